#include "tools/kmrtool/offline_source.h"

#include <cstring>

namespace kmr {

OfflineLosslessSource::OfflineLosslessSource(int32_t width, int32_t height, uint32_t bits, uint32_t fps)
    : width_(width), height_(height), bpp_(bits / 8), fps_(fps) {
  info_.width = width;
  info_.height = -height;
  info_.bit_count = static_cast<uint16_t>(bits);
  const uint32_t stride = StrideFor(static_cast<uint32_t>(width) * bpp_);
  info_.size_image = stride * static_cast<uint32_t>(height);
  if (bits == 16) {
    info_.compression = 3;  // bit fields, 5-6-5
    colours_ = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  } else if (bits == 8) {
    colours_.resize(1024);
    for (int i = 0; i < 256; ++i) {
      colours_[i * 4] = colours_[i * 4 + 1] = colours_[i * 4 + 2] = static_cast<uint8_t>(i);
    }
  }
  next_.Reset(width, height, bpp_);
  c_.Reset(width, height, bpp_);
  r1_.Reset(width, height, bpp_);
  r2_.Reset(width, height, bpp_);
  r3_.Reset(width, height, bpp_);
  scratch_.resize(stride);
}

bool OfflineLosslessSource::EncodeFrame(const uint8_t* raw) {
  const size_t row = static_cast<size_t>(width_) * bpp_;
  for (int32_t y = 0; y < height_; ++y) std::memcpy(next_.view().At(0, y), raw + y * row, row);
  const Rect all{0, 0, width_, height_};
  key_frame_ = key_pending_;
  key_pending_ = false;
  if (key_interval_ != 0 && bytes_since_key_ >= key_interval_) {
    key_frame_ = true;
    bytes_since_key_ = 0;
  }
  if (key_frame_) {
    dirty_.SetRect(all);
  } else {
    differ_.Diff(c_.view(), next_.view(), all, &dirty_);
  }
  dirty_.GetRects(&changed_);
  desktop_.has_window = false;
  if (!key_frame_ && motion_search_) {
    if (const auto m = motion_.Estimate(c_.view(), next_.view(), changed_)) {
      desktop_.has_window = true;
      desktop_.window = m->window;
      desktop_.pointer.x += m->dx;
      desktop_.pointer.y += m->dy;
    }
  }
  for (const Rect& r : changed_) {
    for (int32_t y = r.top; y < r.bottom; ++y) {
      std::memcpy(c_.view().At(r.left, y), next_.view().At(r.left, y), static_cast<size_t>(r.Width()) * bpp_);
    }
  }
  const LosslessFrames frames{c_.view(), r1_.view(), r2_.view(), r3_.view(), scratch_.data()};
  return encoder_.EncodeRowCommands(frames, all, dirty_, key_frame_, &bytes_since_key_);
}

}  // namespace kmr
