#include "tools/kmrtool/offline_source.h"

#include <cstring>

namespace kmr {

OfflineSource::OfflineSource(int32_t width, int32_t height, uint32_t bits, uint32_t fps, const OwnCodec* codec)
    : width_(width), height_(height), bpp_(bits / 8), fps_(fps) {
  if (codec == nullptr) codec = &OwnCodecs().front();
  encoder_ = codec->make(&desktop_);
  motion_search_ = codec->reads_desktop;
  area_ = Rect{0, 0, width, height};
  if (!encoder_->KeepsScreenFormat()) {
    if (bits != 32) {
      error_ = std::string("the ") + codec->option + " codec takes 32-bit frames only";
      return;
    }
    area_ = Rect{0, 0, width + width % 2, height + height % 2};
  }
  info_.width = area_.Width();
  info_.height = -area_.Height();
  info_.bit_count = static_cast<uint16_t>(bits);
  const uint32_t stride = StrideFor(static_cast<uint32_t>(area_.Width()) * bpp_);
  info_.size_image = stride * static_cast<uint32_t>(area_.Height());
  if (bits == 16) {
    info_.compression = 3;  // bit fields, 5-6-5
    colours_ = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  } else if (bits == 8) {
    colours_.resize(1024);
    for (int i = 0; i < 256; ++i) {
      colours_[i * 4] = colours_[i * 4 + 1] = colours_[i * 4 + 2] = static_cast<uint8_t>(i);
    }
  }
  next_.Reset(area_.Width(), area_.Height(), bpp_);
  c_.Reset(area_.Width(), area_.Height(), bpp_);
  ok_ = encoder_->Start(area_.Width(), area_.Height(), bpp_, &error_);
  encoder_->SetKeyInterval(kDefaultKeyInterval);
}

OfflineSource::~OfflineSource() { encoder_->Stop(); }

bool OfflineSource::EncodeFrame(const uint8_t* raw) {
  if (!ok_) return false;
  const size_t row = static_cast<size_t>(width_) * bpp_;
  for (int32_t y = 0; y < height_; ++y) std::memcpy(next_.view().At(0, y), raw + y * row, row);
  const Rect all = area_;
  const bool key = key_pending_;
  key_pending_ = false;
  if (key) {
    dirty_.SetRect(all);
  } else {
    differ_.Diff(c_.view(), next_.view(), all, &dirty_);
  }
  dirty_.GetRects(&changed_);
  desktop_.has_window = false;
  if (!key && motion_search_) {
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
  EncoderInput in;
  in.current = c_.view();
  in.area = all;
  in.dirty = &dirty_;
  in.dirty_rects = &changed_;
  in.fps = fps_;
  in.key_requested = key;
  return encoder_->Encode(in);
}

}  // namespace kmr
