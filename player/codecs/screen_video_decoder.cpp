#include "player/codecs/screen_video_decoder.h"
#include "shared/container/own_codec_info.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kmr {

void ScreenVideoDecoder::SetDisplayFormat(PixelFormat f) {
  platform::MutexLock lock(mu_);
  display_ = f;
}

void ScreenVideoDecoder::ReleaseDisplayCopy() {
  platform::MutexLock lock(mu_);
  display_copy_ = {};
  display_pitch_ = 0;
  converter_ = nullptr;
}

void ScreenVideoDecoder::ReleaseAll() {
  platform::MutexLock lock(mu_);
  ReleaseDisplayCopy();
  decoder_.reset();
  width_ = height_ = 0;
  bits_ = 0;
  colours_.clear();
  is555_ = false;
  compression_ = 0;
}

bool ScreenVideoDecoder::SetFormat(const uint8_t* header, size_t size) {
  platform::MutexLock lock(mu_);
  ReleaseAll();
  if (header == nullptr || size < kBitmapInfoHeaderSize) {
    error_ = "the video format is too short";
    return false;
  }
  ByteReader r(header, size);
  const BitmapInfoHeader b = BitmapInfoHeader::Read(r);
  if (!IsOwnFourCc(b.compression)) {
    error_ = "not a screen video format";
    return false;
  }
  if (b.bit_count != 8 && b.bit_count != 16 && b.bit_count != 24 && b.bit_count != 32) {
    error_ = "unsupported bit depth";
    return false;
  }
  if (b.width < 1 || b.width > kMaxFrameSide || b.height == 0 || b.height < -kMaxFrameSide ||
      b.height > kMaxFrameSide) {
    error_ = "frame size " + std::to_string(b.width) + " x " + std::to_string(b.height) + " is not one a recording has";
    return false;
  }
  const int32_t w = b.width, h = b.height < 0 ? -b.height : b.height;
  bits_ = b.bit_count;
  colours_.assign(header + kBitmapInfoHeaderSize, header + std::min(size, kBitmapInfoHeaderSize + 256));
  if (bits_ == 16 && size >= kBitmapInfoHeaderSize + 12) {
    const uint32_t green = LoadU32(header + kBitmapInfoHeaderSize + 4);
    is555_ = green == 0x3E0;
  }
  const uint32_t bpp = bits_ / 8;
  uint32_t image = b.size_image;
  if (image == 0 && h != 0) image = static_cast<uint32_t>(h) * ((bits_ * static_cast<uint32_t>(w) / 8 + 3) & ~3u);
  const uint32_t stride = h != 0 ? image / static_cast<uint32_t>(h) : 0;
  std::unique_ptr<FrameDecoder> decoder = factory_(b.compression, &error_);
  if (decoder == nullptr) return false;
  if (!decoder->SetFormat(w, h, bpp, stride)) {
    error_ = decoder->Error();
    return false;
  }
  decoder_ = std::move(decoder);
  width_ = w;
  height_ = h;
  compression_ = b.compression;
  CreateDisplayCopy();  // no display copy is not a failure: the view copies P itself
  return true;
}

bool ScreenVideoDecoder::CreateDisplayCopy() {
  platform::MutexLock lock(mu_);
  ReleaseDisplayCopy();
  if (width_ == 0 || bits_ == 8) return false;
  bool supported = false;
  const PixelConverter c = ConverterFor(PixelFormat{bits_, is555_}, display_, &supported);
  if (!supported) return false;
  converter_ = c;
  display_pitch_ = StrideFor(static_cast<uint32_t>(width_) * (display_.bits / 8));
  display_copy_.assign(static_cast<size_t>(display_pitch_) * height_, 0);
  CopyToDisplay(Rect{0, 0, width_, height_});
  return true;
}

void ScreenVideoDecoder::CopyToDisplay(const Rect& r) {
  if (display_copy_.empty() || decoder_ == nullptr) return;
  const Rect c = Intersect(r, Rect{0, 0, width_, height_});
  if (c.IsEmpty()) return;
  const PlaneView& p = decoder_->Picture();
  uint8_t* dst =
      display_copy_.data() + static_cast<size_t>(c.top) * display_pitch_ + static_cast<size_t>(c.left) * (display_.bits / 8);
  const uint8_t* src = p.At(c.left, c.top);
  if (converter_ != nullptr) {
    converter_(dst, display_pitch_, src, p.stride, c.Width(), c.Height());
  } else {
    for (int32_t y = 0; y < c.Height(); ++y) {
      std::memcpy(dst + static_cast<size_t>(y) * display_pitch_, src + static_cast<size_t>(y) * p.stride,
                  static_cast<size_t>(c.Width()) * p.bytes_per_pixel);
    }
  }
}

bool ScreenVideoDecoder::Decode(const uint8_t* packet, size_t length) {
  platform::MutexLock lock(mu_);
  if (decoder_ == nullptr) {
    error_ = "no format";
    return false;
  }
  const bool ok = decoder_->Decode(packet, length, [this](const Rect& r) {
    CopyToDisplay(r);
    return true;
  });
  if (!ok) error_ = decoder_->Error();
  return ok;
}

void ScreenVideoDecoder::Restart() {
  platform::MutexLock lock(mu_);
  if (decoder_ == nullptr) return;
  decoder_->Restart();
  CopyToDisplay(Rect{0, 0, width_, height_});
}

std::vector<uint8_t> ScreenVideoDecoder::DibHeader() const {
  platform::MutexLock lock(mu_);
  std::vector<uint8_t> out;
  if (width_ == 0) return out;
  const bool masks = bits_ == 16 && !is555_;
  BitmapInfoHeader h;
  h.width = width_;
  h.height = -height_;  // P is top-down
  h.bit_count = static_cast<uint16_t>(bits_);
  h.compression = masks ? kBiBitFields : kBiRgb;
  h.clr_used = bits_ == 8 ? 256 : 0;
  ByteWriter w(&out);
  h.Write(w);
  if (bits_ == 8) {
    std::vector<uint8_t> table(1024, 0);
    std::copy(colours_.begin(), colours_.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(colours_.size(), 1024)),
              table.begin());
    w.Bytes(table.data(), table.size());
  } else if (masks) {
    w.U32(0xF800);
    w.U32(0x07E0);
    w.U32(0x001F);
  }
  return out;
}

}  // namespace kmr
