#include "recorder/codecs/module/kmrv_codec.h"
#include "shared/container/own_codec_info.h"

#include <algorithm>
#include <cstring>

#include "recorder/codecs/own_codecs.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr {

namespace {

bool SizeInRange(int32_t w, int32_t h) {
  const int64_t ah = h < 0 ? -static_cast<int64_t>(h) : h;
  return w > 0 && ah > 0 && w <= kMaxFrameSide && ah <= kMaxFrameSide &&
         static_cast<uint64_t>(w) * static_cast<uint64_t>(ah) <= kMaxFramePixels;
}

int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

KmrvCodec::KmrvCodec(uint32_t code) : code_(code) {}
KmrvCodec::~KmrvCodec() = default;

bool KmrvCodec::Available(uint32_t code, std::string* why) {
  const OwnCodecInfo* info = FindOwnCodecInfo(code);
  if (info == nullptr) {
    *why = "not an own codec";
    return false;
  }
  const OwnCodec* codec = FindOwnCodec(info->option);
  return codec != nullptr && codec->available(why);
}

bool KmrvCodec::AcceptsInput(const BitmapInfoHeader& in) const {
  const OwnCodecInfo* info = FindOwnCodecInfo(code_);
  if (info == nullptr || (info->even_sides && (in.width % 2 != 0 || in.height % 2 != 0))) return false;
  return in.bit_count == 32 && in.compression == kBiRgb && in.planes <= 1 && SizeInRange(in.width, in.height);
}

bool KmrvCodec::AcceptsCompressed(const BitmapInfoHeader& in) const {
  return in.compression == code_ && in.bit_count == 32 && SizeInRange(in.width, in.height);
}

BitmapInfoHeader KmrvCodec::CompressedFormat(const BitmapInfoHeader& in) const {
  BitmapInfoHeader out;
  out.size = kBitmapInfoHeaderSize;
  out.width = in.width;
  out.height = Abs(in.height);
  out.planes = 1;
  out.bit_count = 32;
  out.compression = code_;
  out.size_image = MaxCompressedSize(in);
  return out;
}

BitmapInfoHeader KmrvCodec::DecompressedFormat(const BitmapInfoHeader& compressed) {
  BitmapInfoHeader out;
  out.size = kBitmapInfoHeaderSize;
  out.width = compressed.width;
  out.height = Abs(compressed.height);
  out.planes = 1;
  out.bit_count = 32;
  out.compression = kBiRgb;
  out.size_image = DibStride(static_cast<uint32_t>(out.width), 32) * static_cast<uint32_t>(out.height);
  return out;
}

uint32_t KmrvCodec::MaxCompressedSize(const BitmapInfoHeader& in) {
  // A frame that no row command shrinks: the pixels, zlib's own overhead
  // and the row commands around them.
  const uint64_t raw = static_cast<uint64_t>(Abs(in.width)) * Abs(in.height) * 4;
  return static_cast<uint32_t>(std::min<uint64_t>(raw + raw / 8 + 65536, 0x7FFFFFFF));
}

bool KmrvCodec::BeginCompress(const BitmapInfoHeader& in, std::string* error) {
  EndCompress();
  if (!AcceptsInput(in)) {
    *error = "the codec takes 32-bit uncompressed frames";
    return false;
  }
  in_ = in;
  encoder_ = std::make_unique<OfflineSource>(in.width, Abs(in.height), 32, 15,
                                             FindOwnCodec(FindOwnCodecInfo(code_)->option));
  if (!encoder_->Ok()) {
    *error = encoder_->Error();
    encoder_.reset();
    return false;
  }
  encoder_->SetMotionSearch(false);
  top_down_.assign(static_cast<size_t>(in.width) * Abs(in.height) * 4, 0);
  first_ = true;
  return true;
}

bool KmrvCodec::Compress(const uint8_t* bits, bool key_requested, uint8_t* out, uint32_t capacity, uint32_t* size,
                         bool* key) {
  if (encoder_ == nullptr || bits == nullptr || out == nullptr) return false;
  const int32_t w = in_.width, h = Abs(in_.height);
  const size_t row = static_cast<size_t>(w) * 4;
  // The encoder reads rows top-down.
  for (int32_t y = 0; y < h; ++y) {
    const int32_t from = in_.height > 0 ? h - 1 - y : y;
    std::memcpy(top_down_.data() + static_cast<size_t>(y) * row, bits + static_cast<size_t>(from) * row, row);
  }
  if (key_requested || first_) encoder_->RequestKeyFrame();
  first_ = false;
  if (!encoder_->EncodeFrame(top_down_.data())) return false;
  const uint32_t n = encoder_->EncodedSize();
  if (n > capacity) return false;
  if (n != 0) std::memcpy(out, encoder_->EncodedData(), n);
  *size = n;
  *key = n != 0 && encoder_->IsKeyFrame();
  return true;
}

void KmrvCodec::EndCompress() {
  encoder_.reset();
  top_down_.clear();
}

bool KmrvCodec::BeginDecompress(const BitmapInfoHeader& compressed, const BitmapInfoHeader& out) {
  EndDecompress();
  if (!AcceptsCompressed(compressed) || out.bit_count != 32 || out.compression != kBiRgb ||
      out.width != compressed.width || Abs(out.height) != Abs(compressed.height)) {
    error_ = "the codec decompresses its own frames to 32-bit bitmaps of their size";
    return false;
  }
  decoder_ = MakeFrameDecoder(code_, &error_);
  if (decoder_ == nullptr) return false;
  if (!decoder_->SetFormat(compressed.width, Abs(compressed.height), 4, 0)) {
    error_ = decoder_->Error();
    decoder_.reset();
    return false;
  }
  in_ = compressed;
  out_ = out;
  return true;
}

bool KmrvCodec::Decompress(const uint8_t* data, uint32_t size, uint8_t* out, uint32_t out_capacity) {
  if (decoder_ == nullptr || out == nullptr) return false;
  if (size != 0) {
    if (data == nullptr) return false;
    if (!decoder_->Decode(data, size, [](const Rect&) { return true; })) {
      error_ = decoder_->Error();
      return false;
    }
  }
  const PlaneView& p = decoder_->Picture();
  const int32_t w = out_.width, h = Abs(out_.height);
  const uint32_t stride = DibStride(static_cast<uint32_t>(w), 32);
  if (static_cast<uint64_t>(stride) * h > out_capacity || p.width < w || p.height < h) return false;
  for (int32_t y = 0; y < h; ++y) {
    const int32_t to = out_.height > 0 ? h - 1 - y : y;
    std::memcpy(out + static_cast<size_t>(to) * stride, p.At(0, y), static_cast<size_t>(w) * 4);
  }
  return true;
}

void KmrvCodec::EndDecompress() { decoder_.reset(); }

}  // namespace kmr
