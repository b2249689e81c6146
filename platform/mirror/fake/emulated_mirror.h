// The mirror driver itself as a mirror, on Linux: the driver's sources over
// the fake graphics engine (driver/host). Tests draw through the driver's
// hooks; surface and ring are the driver's own, reached through its escapes.
#pragma once

#include "driver/host/quarn_harness.h"
#include "platform/mirror/mirror.h"

namespace kmr::platform {

class EmulatedMirror : public Mirror {
 public:
  explicit EmulatedMirror(quarn::Harness* driver) : driver_(driver) {
    ULONG mode = 0;
    driver_->Escape(QUARN_ESC_QUERY_MODE, nullptr, 0, &mode, 4);
    screen_ = {static_cast<int32_t>(mode & 0xFFF), static_cast<int32_t>((mode >> 12) & 0xFFF), mode >> 24};
  }

  ScreenMetrics screen_;

  bool Attach() override { return driver_->ok(); }
  void Detach() override {}
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override {
    uint8_t reply[8] = {};
    driver_->Escape(QUARN_ESC_MAP_SURFACE, nullptr, 0, reply, 8);
    *bits = static_cast<uint8_t*>(FakeMiniportPointer(quarn_mapping_reply_word(reply, 0)));
    *format = SurfaceFormat{};
    format->width = driver_->surface()->sizlBitmap.cx;
    format->height = driver_->surface()->sizlBitmap.cy;
    format->bits_per_pixel = screen_.bits_per_pixel;
    format->stride = driver_->stride();
    if (format->bits_per_pixel == 16) {
      format->bit_fields = true;
      format->masks[0] = 0xF800;
      format->masks[1] = 0x07E0;
      format->masks[2] = 0x001F;
    }
    return *bits != nullptr;
  }
  void UnmapSurface() override { driver_->Escape(QUARN_ESC_UNMAP_SURFACE, nullptr, 0, nullptr, 0); }
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override {
    uint8_t reply[8] = {};
    if (driver_->Escape(QUARN_ESC_MAP_CHANGE_RING, &capacity, 4, reply, 8) == 0) return false;
    *ring = static_cast<uint8_t*>(FakeMiniportPointer(quarn_mapping_reply_word(reply, 0)));
    return *ring != nullptr;
  }
  void UnmapChangeRing() override { driver_->Escape(QUARN_ESC_UNMAP_CHANGE_RING, nullptr, 0, nullptr, 0); }
  bool EnableTracking() override { return driver_->Escape(QUARN_ESC_ENABLE_TRACKING, nullptr, 0, nullptr, 0) >= 1; }
  ScreenMetrics Screen() override { return screen_; }
  // The desktop the driver mirrors is its own surface here: seeding copies it
  // onto itself through the driver, which reports it like any drawing.
  bool SeedFromScreen(const Rect& r) override {
    RECTL d{r.left, r.top, r.right, r.bottom};
    driver_->CopyWithin(d, POINTL{r.left, r.top});
    return true;
  }
  bool FillBlack(const Rect& r) override {
    driver_->Fill(RECTL{r.left, r.top, r.right, r.bottom}, 0);
    return true;
  }

 private:
  quarn::Harness* driver_;
};

}  // namespace kmr::platform
