#include "recorder/capture/screen_capture_source.h"

#include <new>

#include <cstring>

#include "driver/quarn_protocol.h"
#include "recorder/capture/capture_rect.h"

namespace kmr {

ScreenCaptureSource::ScreenCaptureSource(platform::Mirror* mirror) : mirror_(mirror) {}

ScreenCaptureSource::~ScreenCaptureSource() { Release(); }

bool ScreenCaptureSource::Prepare(FrameEncoder* encoder) {
  if (started_) return true;
  failure_.clear();
  encoder_ = encoder;
  bool ok = mirror_ != nullptr && encoder != nullptr;
  if (!ok) failure_ = "no screen or no codec to record with";
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
  if (!mirror_->Attach()) return Fail("the screen capture could not be attached");
  attached_ = true;
  if (!mirror_->MapSurface(&surface_, &surface_format_) || surface_ == nullptr) {
    return Fail("the captured screen could not be mapped");
  }
  if (!mirror_->MapChangeRing(QUARN_RING_CAPACITY, &ring_) || ring_ == nullptr) {
    return Fail("the screen's change list could not be mapped");
  }
  ring_reader_.Reset();
  if (!mirror_->EnableTracking()) return Fail("the screen's changes could not be followed");
  return true;
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
    return Fail("the screen's size cannot be recorded");
  }
  const uint32_t bits = f.bits_per_pixel;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return Fail("the screen's colour depth cannot be recorded");
  source_bpp_ = bits / 8;
  if (f.stride < static_cast<uint32_t>(w) * source_bpp_) return Fail("the captured screen's rows are too short");

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
  if (!encoder_->KeepsScreenFormat()) {
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
        return Fail("a 256-colour screen can only be recorded with the lossless codec");
    }
    info_.bit_count = 32;
    info_.compression = kBiRgb;
    colours_.clear();
  }
  const uint32_t frame_bpp = info_.bit_count / 8u;
  try {
    c_.Reset(w, h, frame_bpp);
  } catch (const std::bad_alloc&) {
    return Fail("not enough memory for the screen's frame");  // Prepare releases what was made
  }
  std::string why;
  if (!encoder_->Start(w, h, frame_bpp, &why)) {
    failure_ = why;
    return false;
  }
  encoder_->SetKeyInterval(key_interval_);
  info_.size_image = static_cast<uint32_t>(c_.size());
  // The mirror starts from the current screen; the copy is reported as a change.
  if (!mirror_->SeedFromScreen(Rect{0, 0, w, h})) return Fail("the screen could not be read");
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
}

void ScreenCaptureSource::Release() {
  if (started_) {
    ReleaseFrames();
    DetachMirror();
  }
  fps_ = kDefaultFps;
  key_pending_ = false;
  key_interval_ = 0;
  stored_rect_ = Rect{};
  dirty_.SetEmpty();
  scratch_region_.SetEmpty();
  dirty_rects_ = {};
  if (encoder_ != nullptr) encoder_->Stop();
  encoder_ = nullptr;  // the next recording brings its own
  started_ = false;
}

void ScreenCaptureSource::SetRect(const Rect& r) {
  if (r == stored_rect_) return;
  // The whole rectangle is sent again; an encoder whose state depends on the
  // size starts anew when it sees the new one.
  RequestKeyFrame();
  stored_rect_ = r;
}

Rect ScreenCaptureSource::CaptureRect() const {
  const bool keeps = encoder_ == nullptr || encoder_->KeepsScreenFormat();
  return CaptureRectFor(stored_rect_, surface_format_.width, surface_format_.height, keeps);
}

OwnVideoFormat ScreenCaptureSource::Format() const {
  OwnVideoFormat f;
  f.fps = fps_;
  f.compression = encoder_ != nullptr ? encoder_->FourCc() : 0;
  f.bitmap = info_;
  f.colour_table = colours_;
  f.capture_rect = CaptureRect();
  return f;
}

bool ScreenCaptureSource::PaintBeyondTheScreen() {
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

bool ScreenCaptureSource::OnDisplayChange(bool idle) {
  (void)idle;
  // Nothing to do on this (the interface's) thread: every frame reads the
  // screen's size on the capture's own thread, so the next one has it.
  return started_;
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

bool ScreenCaptureSource::Capture(EncoderInput* frame) {
  if (!started_ || frame == nullptr) return false;
  // A screen that shrank leaves part of the surface behind: it is black.
  // That failing only leaves old pixels there; the frame goes on.
  PaintBeyondTheScreen();
  // The last frame's changes went to the encoder with it.
  dirty_.SetEmpty();
  CollectChanges();
  if (!CopyChangedRects()) return false;  // also lists the dirty region's rectangles
  *frame = EncoderInput{};
  frame->current = c_.view();
  frame->area = CaptureRect();
  frame->dirty = &dirty_;
  frame->dirty_rects = &dirty_rects_;
  frame->fps = fps_;
  frame->key_requested = key_pending_;
  key_pending_ = false;
  return true;
}

}  // namespace kmr
