// A mirror in memory for tests: the test draws into a "screen", and Update
// copies what the test marked as drawn into the surface and reports it, as a
// driver would. Attach can be made to fail.
#pragma once

#include <cstring>
#include <vector>

#include "driver/quarn_protocol.h"
#include "platform/mirror/mirror.h"
#include "shared/plane.h"

namespace kmr::platform {

class MemoryMirror : public Mirror {
 public:
  MemoryMirror(int32_t width, int32_t height, uint32_t bits) : bits_(bits) {
    screen_.Reset(width, height, bits / 8);
    surface_.Reset(width, height, bits / 8);
    metrics_ = {width, height, bits};
  }

  // What the test controls.
  Plane& screen() { return screen_; }
  const Plane& surface() const { return surface_; }
  // The screen changed there: like a driver, the surface takes it at once.
  void Draw(const Rect& r) { Copy(r); }
  bool fail_attach = false;
  bool attached = false;
  bool tracking = false;
  int maps = 0;
  ScreenMetrics metrics_;
  SurfaceFormat format_override;  // used when its width is non-zero

  bool Attach() override {
    if (fail_attach) return false;
    attached = true;
    return true;
  }
  void Detach() override { attached = false; }
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override {
    if (!attached) return false;
    ++maps;
    *bits = surface_.data();
    if (format_override.width != 0) {
      *format = format_override;
    } else {
      format->width = surface_.view().width;
      format->height = surface_.view().height;
      format->bits_per_pixel = bits_;
      format->stride = surface_.view().stride;
      if (bits_ == 16) {
        format->bit_fields = true;
        format->masks[0] = 0xF800;
        format->masks[1] = 0x07E0;
        format->masks[2] = 0x001F;
      }
    }
    return true;
  }
  void UnmapSurface() override { --maps; }
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override {
    const size_t n = quarn_ring_bytes(capacity);
    if (n == 0) return false;
    ring_.assign(n / 4 + 1, 0);
    quarn_ring_init(reinterpret_cast<uint8_t*>(ring_.data()), capacity);
    *ring = reinterpret_cast<uint8_t*>(ring_.data());
    return true;
  }
  void UnmapChangeRing() override { ring_.clear(); }
  bool EnableTracking() override {
    tracking = true;
    return true;
  }
  ScreenMetrics Screen() override { return metrics_; }
  bool SeedFromScreen(const Rect& r) override {
    Copy(r);
    return true;
  }
  bool FillBlack(const Rect& r) override {
    const PlaneView& s = surface_.view();
    for (int32_t y = r.top; y < r.bottom; ++y) std::memset(s.At(r.left, y), 0, r.Width() * s.bytes_per_pixel);
    Report(r);
    return true;
  }

 private:
  void Copy(const Rect& r) {
    const PlaneView& s = surface_.view();
    const PlaneView& c = screen_.view();
    for (int32_t y = r.top; y < r.bottom; ++y) std::memcpy(s.At(r.left, y), c.At(r.left, y), r.Width() * s.bytes_per_pixel);
    Report(r);
  }
  void Report(const Rect& r) {
    if (!tracking || ring_.empty()) return;
    QuarnRect q{r.left, r.top, r.right, r.bottom};
    quarn_ring_add(reinterpret_cast<uint8_t*>(ring_.data()), &q);
  }

  uint32_t bits_;
  Plane screen_, surface_;
  std::vector<uint32_t> ring_;
};

}  // namespace kmr::platform
