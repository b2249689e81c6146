// The Windows Media runtime's writer over libavformat's ASF muxer: the
// profile's streams become the file's streams in stream-number order, the
// media types their codec parameters, the four text attributes the file's
// title, author, copyright and comment. Codec information entries are the
// muxer's own business (it lists the streams' codings itself).
#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <vector>

#include "recorder/outputs/wmv/wm_runtime.h"
#include "shared/byte_io.h"
#include "shared/text/utf16.h"
#include "shared/libav/libav_util.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace kmr {

namespace {


class HeapSample : public WmSample {
 public:
  explicit HeapSample(uint32_t size) : bytes_(size) {}
  uint8_t* Data() override { return bytes_.data(); }
  uint32_t Capacity() const override { return static_cast<uint32_t>(bytes_.size()); }
  bool SetLength(uint32_t length) override {
    if (length > bytes_.size()) return false;
    length_ = length;
    return true;
  }
  uint32_t Length() const { return length_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t length_ = 0;
};

class AsfRuntime : public WmRuntime {
 public:
  ~AsfRuntime() override { Abandon(); }

  bool CreateProfile(uint32_t version) override {
    ReleaseProfile();
    if (version != kWmProfileVersion9) return Fail("only version 9 profiles are written");
    have_profile_ = true;
    return true;
  }
  bool AddProfileStream(const WmProfileStream& s) override {
    if (!have_profile_ || s.number == 0 || s.number > 127) return false;
    if (!(s.major_type == kMediaTypeVideo && s.type.format.size() >= 88) &&
        !(s.major_type == kMediaTypeAudio && s.type.format.size() >= 16)) {
      return false;
    }
    for (const auto& p : profile_) {
      if (p.number == s.number) return false;
    }
    profile_.push_back(s);
    return true;
  }
  void ReleaseProfile() override {
    profile_.clear();
    have_profile_ = false;
    assigned_.clear();
  }
  bool SetProfile() override {
    if (!have_profile_ || context_ != nullptr) return Fail("no profile to give the writer");
    assigned_ = profile_;
    std::sort(assigned_.begin(), assigned_.end(), [](const auto& a, const auto& b) { return a.number < b.number; });
    return true;
  }
  bool SetInputsUncompressedNone() override { return !assigned_.empty() || Fail("the profile has no streams"); }
  bool SetOutputFilename(const std::u16string& path) override {
    path_ = Utf16ToUtf8(path);
    return !path_.empty();
  }
  void AddCodecInfo(const std::u16string&, const std::u16string&, uint16_t, const std::vector<uint8_t>&) override {}
  void AddStringAttribute(uint16_t, const std::u16string& name, const std::u16string& value) override {
    attributes_[Utf16ToUtf8(name)] = Utf16ToUtf8(value);
  }

  bool BeginWriting() override {
    error_.clear();
    flushed_ms_ = 0;
    if (assigned_.empty() || path_.empty()) return Fail("the writer has no profile or file name");
    if (avformat_alloc_output_context2(&context_, nullptr, "asf", path_.c_str()) < 0 || context_ == nullptr) {
      return Fail("the ASF writer is not available");
    }
    static const std::array<std::pair<const char*, const char*>, 4> kKeys{
        {{"Title", "title"}, {"Author", "author"}, {"Copyright", "copyright"}, {"Description", "comment"}}};
    for (const auto& [attribute, key] : kKeys) {
      const auto it = attributes_.find(attribute);
      if (it != attributes_.end() && !it->second.empty()) av_dict_set(&context_->metadata, key, it->second.c_str(), 0);
    }
    for (const WmProfileStream& p : assigned_) {
      if (!Describe(p)) return Abandon(), false;
    }
    int r = avio_open(&context_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Fail(LibavError(r)), Abandon(), false;
    context_->max_interleave_delta = 1000000;  // nothing waits longer than a second to be interleaved
    r = avformat_write_header(context_, nullptr);
    if (r < 0) return Fail(LibavError(r)), Abandon(), false;
    writing_ = true;
    return true;
  }

  bool EndWriting() override {
    if (!writing_) return Fail("the writer is not writing");
    writing_ = false;
    bool ok = error_.empty();
    int r = av_write_trailer(context_);
    if (r < 0 && ok) ok = Fail(LibavError(r));
    if (context_->pb->error < 0 && ok) ok = Fail(LibavError(context_->pb->error));
    r = avio_closep(&context_->pb);
    if (r < 0 && ok) ok = Fail(LibavError(r));
    avformat_free_context(context_);
    context_ = nullptr;
    numbers_.clear();
    return ok;
  }

  std::unique_ptr<WmSample> AllocateSample(uint32_t size) override {
    try {
      return std::make_unique<HeapSample>(size);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  bool WriteStreamSample(uint16_t number, uint64_t sample_time, uint32_t, uint64_t duration, uint32_t flags,
                         WmSample* sample) override {
    if (!writing_ || sample == nullptr || !error_.empty()) return false;
    const auto it = numbers_.find(number);
    if (it == numbers_.end()) return Fail("a sample for a stream the profile does not have");
    auto* heap = static_cast<HeapSample*>(sample);
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, static_cast<int>(heap->Length())) < 0) {
      av_packet_free(&packet);
      return Fail("out of memory for a sample");
    }
    std::copy_n(heap->Data(), heap->Length(), packet->data);
    AVStream* st = context_->streams[it->second];
    const AVRational hundred_ns{1, 10000000};
    packet->stream_index = it->second;
    packet->pts = packet->dts = av_rescale_q(static_cast<int64_t>(sample_time), hundred_ns, st->time_base);
    packet->duration = av_rescale_q(static_cast<int64_t>(duration), hundred_ns, st->time_base);
    if ((flags & kWmCleanPoint) != 0 || st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      packet->flags |= AV_PKT_FLAG_KEY;
    }
    const int64_t at_ms = av_rescale_q(packet->pts, st->time_base, AVRational{1, 1000});
    const int r = av_interleaved_write_frame(context_, packet);
    av_packet_free(&packet);
    if (r < 0) return Fail(LibavError(r));
    // At least once a second of recording what was written goes to the
    // system, so a recorder that is killed loses no more than that.
    if (at_ms - flushed_ms_ >= 1000) {
      flushed_ms_ = at_ms;
      avio_flush(context_->pb);
    }
    if (context_->pb->error < 0) return Fail(LibavError(context_->pb->error));
    return true;
  }

  std::string Error() const override { return error_; }

 private:
  bool Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }

  void Abandon() {
    writing_ = false;
    if (context_ == nullptr) return;
    avio_closep(&context_->pb);
    avformat_free_context(context_);
    context_ = nullptr;
    numbers_.clear();
  }

  bool Describe(const WmProfileStream& p) {
    AVStream* st = avformat_new_stream(context_, nullptr);
    if (st == nullptr) return Fail("out of memory for a stream");
    numbers_[p.number] = st->index;
    AVCodecParameters* par = st->codecpar;
    const std::vector<uint8_t>& f = p.type.format;
    std::string why;
    if (p.major_type == kMediaTypeVideo) {
      // A video info header: the bitmap info header from byte 48, its
      // colour or codec data from byte 88.
      const std::vector<uint8_t> bitmap(f.begin() + 48, f.end());
      if (!VideoParametersFromBitmap(bitmap, par, &why)) return Fail(why);
      par->bit_rate = LeAt(f, 32);
    } else if (!AudioParametersFromWave(f, par, &why)) {
      return Fail(why);
    }
    st->time_base = AVRational{1, 1000};
    return true;
  }

  bool have_profile_ = false;
  std::vector<WmProfileStream> profile_, assigned_;
  std::map<std::string, std::string> attributes_;
  std::map<uint16_t, int> numbers_;
  std::string path_;
  AVFormatContext* context_ = nullptr;
  bool writing_ = false;
  int64_t flushed_ms_ = 0;
  std::string error_;
};

class AsfRuntimeFactory : public WmRuntimeFactory {
 public:
  AsfRuntimeFactory() { QuietLibavLog(); }
  std::unique_ptr<WmRuntime> CreateWriter(std::string*) override { return std::make_unique<AsfRuntime>(); }
};

}  // namespace

std::unique_ptr<WmRuntimeFactory> MakeSystemWmRuntimeFactory() { return std::make_unique<AsfRuntimeFactory>(); }

}  // namespace kmr
