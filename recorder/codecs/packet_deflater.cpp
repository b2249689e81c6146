#include "recorder/codecs/packet_deflater.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <vector>

#ifdef KMR_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace kmr {

namespace {

// zlib's default level, streaming: small pieces are gathered and handed to
// deflate in larger ones.
class ZlibPacketDeflater : public PacketDeflater {
 public:
  static constexpr size_t kStagingSize = 65536;
  static constexpr size_t kBufferStep = 262144;

  ~ZlibPacketDeflater() override { End(); }
  bool Begin() override {
    End();
    if (packet_.empty()) packet_.resize(kBufferStep);
    if (staging_.empty()) staging_.resize(kStagingSize);
    zs_ = z_stream{};
    if (deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK) return false;
    open_ = true;
    zs_.next_out = packet_.data();
    zs_.avail_out = static_cast<uInt>(packet_.size());
    staged_ = 0;
    size_ = 0;
    return true;
  }
  bool Add(const uint8_t* data, size_t n) override {
    if (!open_) return false;
    if (staged_ + n <= staging_.size()) {
      if (n != 0) std::memcpy(staging_.data() + staged_, data, n);
      staged_ += n;
      return true;
    }
    // A long piece goes to deflate directly, after what is staged.
    return FlushStaging(Z_NO_FLUSH) && Deflate(data, n, Z_NO_FLUSH);
  }
  bool Finish() override {
    if (!open_) return false;
    const bool ok = FlushStaging(Z_FINISH);
    size_ = ok ? zs_.total_out : 0;
    End();
    return ok;
  }
  const uint8_t* Data() const override { return packet_.data(); }
  size_t Size() const override { return size_; }
  void Release() override {
    End();
    packet_ = {};
    staging_ = {};
    size_ = 0;
  }

 private:
  void End() {
    if (!open_) return;
    deflateEnd(&zs_);
    open_ = false;
  }
  bool EnsureOutputSpace() {
    if (zs_.avail_out != 0) return true;
    const size_t used = zs_.total_out;
    try {
      packet_.resize(packet_.size() + kBufferStep);  // contents stay
    } catch (...) {
      return false;
    }
    zs_.next_out = packet_.data() + used;
    zs_.avail_out = static_cast<uInt>(packet_.size() - used);
    return true;
  }
  bool Deflate(const uint8_t* data, size_t n, int flush) {
    zs_.next_in = const_cast<Bytef*>(data);
    zs_.avail_in = static_cast<uInt>(n);
    for (;;) {
      if (!EnsureOutputSpace()) return false;
      const int rc = deflate(&zs_, flush);
      if (rc == Z_STREAM_ERROR) return false;
      if (flush == Z_FINISH) {
        if (rc == Z_STREAM_END) return true;
        if (zs_.avail_out != 0 && rc != Z_OK && rc != Z_BUF_ERROR) return false;
        continue;
      }
      if (zs_.avail_in == 0 && zs_.avail_out != 0) return true;
    }
  }
  bool FlushStaging(int flush) {
    const bool ok = Deflate(staging_.data(), staged_, flush);
    staged_ = 0;
    return ok;
  }

  z_stream zs_{};
  bool open_ = false;
  std::vector<uint8_t> packet_;
  std::vector<uint8_t> staging_;
  size_t staged_ = 0;
  size_t size_ = 0;
};

#ifdef KMR_HAVE_LIBDEFLATE
// libdeflate compresses a whole buffer at once: the commands are gathered
// and compressed at the end of the packet.
class LibdeflatePacketDeflater : public PacketDeflater {
 public:
  // Measured on a desktop clip's packets: level 6 gives zlib's default size
  // in 40 % of its time; higher levels cost far more time for a few percent.
  static constexpr int kLevel = 6;

  ~LibdeflatePacketDeflater() override { libdeflate_free_compressor(compressor_); }
  bool Begin() override {
    if (compressor_ == nullptr) compressor_ = libdeflate_alloc_compressor(kLevel);
    input_.clear();
    size_ = 0;
    open_ = compressor_ != nullptr;
    return open_;
  }
  bool Add(const uint8_t* data, size_t n) override {
    if (!open_) return false;
    try {
      input_.insert(input_.end(), data, data + n);
    } catch (...) {
      return false;
    }
    return true;
  }
  bool Finish() override {
    if (!open_) return false;
    open_ = false;
    const size_t bound = libdeflate_zlib_compress_bound(compressor_, input_.size());
    try {
      if (output_.size() < bound) output_.resize(bound);
    } catch (...) {
      return false;
    }
    size_ = libdeflate_zlib_compress(compressor_, input_.data(), input_.size(), output_.data(), output_.size());
    return size_ != 0;
  }
  const uint8_t* Data() const override { return output_.data(); }
  size_t Size() const override { return size_; }
  void Release() override {
    input_ = {};
    output_ = {};
    size_ = 0;
    open_ = false;
  }

 private:
  libdeflate_compressor* compressor_ = nullptr;
  std::vector<uint8_t> input_, output_;
  size_t size_ = 0;
  bool open_ = false;
};
#endif

}  // namespace

std::unique_ptr<PacketDeflater> MakeZlibPacketDeflater() { return std::make_unique<ZlibPacketDeflater>(); }

std::unique_ptr<PacketDeflater> MakeLibdeflatePacketDeflater() {
#ifdef KMR_HAVE_LIBDEFLATE
  return std::make_unique<LibdeflatePacketDeflater>();
#else
  return nullptr;
#endif
}

std::unique_ptr<PacketDeflater> MakePacketDeflater() {
  std::unique_ptr<PacketDeflater> d = MakeLibdeflatePacketDeflater();
  return d != nullptr ? std::move(d) : MakeZlibPacketDeflater();
}

}  // namespace kmr
