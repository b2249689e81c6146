#include "recorder/capture/screen_capture_source.h"

#include <new>

#include <cstring>

#include "driver/quarn_protocol.h"
#include "recorder/capture/capture_rect.h"

namespace kmr {

ScreenCaptureSource::ScreenCaptureSource(platform::Mirror* mirror, platform::DesktopState* desktop)
    : mirror_(mirror), encoder_(desktop) {}

ScreenCaptureSource::~ScreenCaptureSource() { Release(); }

bool ScreenCaptureSource::Prepare(bool lossless, bool own_codec) {
  if (started_) return true;
  lossless_ = lossless;
  own_codec_ = own_codec;
  bool ok = mirror_ != nullptr;
  // The lossy codec's global initialisation: that codec is not part of this
  // build, so a lossy own-codec start fails here like a failed initialisation.
  if (ok && own_codec && !lossless) ok = false;
  if (ok) ok = AttachMirror() && SetUpFrames();
  if (ok) {
    started_ = true;
    return true;
  }
  started_ = true;  // so that Release undoes everything
  Release();
  return false;
}

bool ScreenCaptureSource::AttachMirror() {
  if (!mirror_->Attach()) return false;
  attached_ = true;
  if (!mirror_->MapSurface(&surface_, &surface_format_) || surface_ == nullptr) return false;
  if (!mirror_->MapChangeRing(QUARN_RING_CAPACITY, &ring_) || ring_ == nullptr) return false;
  ring_reader_.Reset();
  return mirror_->EnableTracking();
}

void ScreenCaptureSource::DetachMirror() {
  if (!attached_) return;
  if (ring_ != nullptr) {
    ring_ = nullptr;
    mirror_->UnmapChangeRing();
  }
  if (surface_ != nullptr) {
    surface_ = nullptr;
    mirror_->UnmapSurface();
  }
  mirror_->Detach();
  attached_ = false;
}

bool ScreenCaptureSource::SetUpFrames() {
  screen_ = mirror_->Screen();
  const platform::SurfaceFormat& f = surface_format_;
  const int32_t w = f.width, h = f.height;
  if (w <= 0 || h <= 0 || w > kMaxFrameSide || h > kMaxFrameSide ||
      static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > kMaxFramePixels) {
    return false;
  }
  const uint32_t bits = f.bits_per_pixel;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  source_bpp_ = bits / 8;
  if (f.stride < static_cast<uint32_t>(w) * source_bpp_) return false;

  info_ = BitmapInfoHeader{};
  info_.width = w;
  info_.height = -h;  // top-down
  info_.bit_count = static_cast<uint16_t>(bits);
  info_.compression = (bits == 16 && f.bit_fields) ? kBiBitFields : kBiRgb;
  colours_.clear();
  if (bits == 8) {
    colours_ = f.colour_table;
    colours_.resize(1024, 0);
  } else if (bits == 16) {
    uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
    if (f.bit_fields) std::memcpy(masks, f.masks, sizeof(masks));
    for (uint32_t m : masks) {
      for (int k = 0; k < 4; ++k) colours_.push_back(static_cast<uint8_t>(m >> (8 * k)));
    }
  }

  converter_ = nullptr;
  if (!lossless_) {
    // Every other consumer takes 32-bit frames.
    switch (bits) {
      case 32:
        break;
      case 24:
        converter_ = Convert24To32;
        break;
      case 16: {
        const bool is555 = f.bit_fields && f.masks[0] == 0x7C00 && f.masks[1] == 0x03E0 && f.masks[2] == 0x001F;
        converter_ = is555 ? Convert555To32 : Convert565To32;
        break;
      }
      default:
        return false;  // an 8-bit desktop only records losslessly
    }
    info_.bit_count = 32;
    info_.compression = kBiRgb;
    colours_.clear();
  }
  const uint32_t frame_bpp = info_.bit_count / 8u;
  try {
    c_.Reset(w, h, frame_bpp);
    if (own_codec_) r1_.Reset(w, h, frame_bpp);
    if (own_codec_ && lossless_) {
      r2_.Reset(w, h, frame_bpp);
      r3_.Reset(w, h, frame_bpp);
      scratch_.assign(c_.view().stride, 0);
    }
  } catch (const std::bad_alloc&) {
    return false;  // Prepare releases what was made
  }
  info_.size_image = static_cast<uint32_t>(c_.size());
  // The mirror starts from the current screen; the copy is reported as a change.
  if (!mirror_->SeedFromScreen(Rect{0, 0, w, h})) return false;
  RequestKeyFrame();
  return true;
}

void ScreenCaptureSource::ReleaseFrames() {
  info_ = BitmapInfoHeader{};
  colours_.clear();
  surface_format_ = platform::SurfaceFormat{};
  source_bpp_ = 0;
  converter_ = nullptr;
  c_.Free();
  r1_.Free();
  r2_.Free();
  r3_.Free();
  scratch_ = {};
}

void ScreenCaptureSource::Release() {
  if (started_) {
    ReleaseFrames();
    DetachMirror();
  }
  fps_ = kDefaultFps;
  key_pending_ = key_frame_ = false;
  key_interval_ = 0;
  bytes_since_key_ = 0;
  stored_rect_ = Rect{};
  dirty_.SetEmpty();
  scratch_region_.SetEmpty();
  dirty_rects_ = {};
  encoder_.Release();
  started_ = false;
}

void ScreenCaptureSource::RequestKeyFrame() {
  key_pending_ = true;
  key_frame_ = true;
  bytes_since_key_ = 0;
}

void ScreenCaptureSource::SetRect(const Rect& r) {
  if (r == stored_rect_) return;
  // A change of size would also rebuild the lossy codec's tiles.
  RequestKeyFrame();
  stored_rect_ = r;
}

Rect ScreenCaptureSource::CaptureRect() const {
  return CaptureRectFor(stored_rect_, surface_format_.width, surface_format_.height, lossless_);
}

bool ScreenCaptureSource::Capture() {
  if (!started_) return true;
  screen_ = mirror_->Screen();
  const int32_t w = surface_format_.width, h = surface_format_.height;
  bool ok = true;
  if (screen_.width < w) {
    const Rect r{screen_.width, 0, w, h};
    ok = mirror_->FillBlack(r) && ok;
  }
  if (screen_.height < h) {
    const Rect r{0, screen_.height, w, h};
    ok = mirror_->FillBlack(r) && ok;
  }
  return ok;
}

void ScreenCaptureSource::CollectChanges() {
  mirror_->Update();
  last_ring_count_ = 0;
  bool overflowed = false;
  if (ring_ != nullptr) {
    // After an overflow the places of some changes are unknown: the whole
    // surface counts as changed, and no rectangle needs merging.
    dirty_rects_.clear();
    const ChangeRingReader::Result r = ring_reader_.Drain(ring_, [this](const QuarnRect& q) {
      dirty_rects_.push_back(Rect{q.left, q.top, q.right, q.bottom});
    });
    last_ring_count_ = r.rectangles;
    overflowed = r.overflowed;
    for (const Rect& d : dirty_rects_) {
      if (!d.IsEmpty()) dirty_.Union(d);
    }
  }
  if (key_pending_ || overflowed) dirty_.Union(Rect{0, 0, surface_format_.width, surface_format_.height});
  dirty_.Intersect(CaptureRect());
}

bool ScreenCaptureSource::CopyChangedRects() {
  if (surface_ == nullptr || !c_.view().IsValid()) return false;
  dirty_.GetRects(&dirty_rects_);
  const PlaneView& c = c_.view();
  const uint32_t src_stride = surface_format_.stride;
  for (const Rect& r : dirty_rects_) {
    const uint8_t* src = surface_ + static_cast<size_t>(r.top) * src_stride + static_cast<size_t>(r.left) * source_bpp_;
    uint8_t* dst = c.At(r.left, r.top);
    if (converter_ != nullptr) {
      converter_(dst, c.stride, src, src_stride, r.Width(), r.Height());
    } else {
      const size_t n = static_cast<size_t>(r.Width()) * c.bytes_per_pixel;
      for (int32_t y = 0; y < r.Height(); ++y) {
        std::memcpy(dst + static_cast<size_t>(y) * c.stride, src + static_cast<size_t>(y) * src_stride, n);
      }
    }
  }
  return true;
}

bool ScreenCaptureSource::Encode() {
  if (!started_) return false;
  CollectChanges();
  encoder_.ResetPacket();
  if (!CopyChangedRects()) return false;
  if (!own_codec_) {
    key_frame_ = key_pending_ = false;
  } else if (lossless_) {
    key_frame_ = key_pending_;
    key_pending_ = false;
    if (key_interval_ != 0 && bytes_since_key_ >= key_interval_) {
      key_frame_ = true;
      bytes_since_key_ = 0;
    }
    const LosslessFrames frames{c_.view(), r1_.view(), r2_.view(), r3_.view(), scratch_.data()};
    if (!encoder_.EncodeRowCommands(frames, CaptureRect(), dirty_, key_frame_, &bytes_since_key_)) return false;
  } else {
    return false;  // the lossy codec is not part of this build
  }
  dirty_.SetEmpty();
  return true;
}

}  // namespace kmr
