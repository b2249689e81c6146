// The mirror driver itself as a mirror, on Linux: the driver's sources over
// the fake graphics engine (driver/host). Tests draw through the driver's
// hooks; surface and ring are the driver's own, reached through its escapes.
#pragma once

#include "driver/host/quarn_harness.h"
#include "platform/mirror/mirror.h"
#include "platform/mirror/quarn_client.h"

namespace kmr::platform {

// The driver's escapes on the fake engine, for the recorder's own client.
class HarnessEscapes : public QuarnEscapes {
 public:
  explicit HarnessEscapes(quarn::Harness* driver) : driver_(driver) {}
  int Escape(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size) override {
    return static_cast<int>(driver_->Escape(code, in, in_size, out, out_size));
  }
  uint8_t* Pointer(uint32_t address) override { return static_cast<uint8_t*>(FakeMiniportPointer(address)); }

 private:
  quarn::Harness* driver_;
};

class EmulatedMirror : public Mirror {
 public:
  explicit EmulatedMirror(quarn::Harness* driver) : driver_(driver), escapes_(driver), client_(&escapes_) {
    uint32_t w = 0, h = 0, bits = 0;
    client_.QueryMode(&w, &h, &bits);
    screen_ = {static_cast<int32_t>(w), static_cast<int32_t>(h), bits};
  }

  ScreenMetrics screen_;

  // The recorder's client maps and unmaps, as it does on Windows.
  bool Attach() override { return driver_->ok() && client_.Open(QUARN_RING_CAPACITY); }
  void Detach() override { client_.Close(); }
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override {
    *bits = client_.Surface();
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
  void UnmapSurface() override {}  // the detach unmaps, in the driver's order
  bool MapChangeRing(uint32_t, uint8_t** ring) override {
    *ring = client_.Ring();
    return *ring != nullptr;
  }
  void UnmapChangeRing() override {}
  bool EnableTracking() override { return client_.Ring() != nullptr; }
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
  HarnessEscapes escapes_;
  QuarnClient client_;
};

}  // namespace kmr::platform
