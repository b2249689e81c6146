// A mirror without a driver, for systems where the mirror driver is not
// installed or cannot load (64-bit builds, newer Windows, Wine): it owns a
// 32-bit surface the size of the screen and, on each frame, copies the screen,
// compares it with the surface in blocks, takes over the changed blocks and
// reports them. It draws the pointer into the surface (with save-under), as a
// system without a hardware pointer does, and reports its old and new places.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/mirror/mirror.h"

namespace kmr::platform {

class PollingMirror : public Mirror {
 public:
  static constexpr int kBlock = 32;

  PollingMirror() = default;
  ~PollingMirror() override;

  bool Attach() override;
  void Detach() override;
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override;
  void UnmapSurface() override {}
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override;
  void UnmapChangeRing() override;
  bool EnableTracking() override;
  ScreenMetrics Screen() override;
  bool SeedFromScreen(const Rect& r) override;
  bool FillBlack(const Rect& r) override;
  void Update() override;

  void SetDrawPointer(bool on) { draw_pointer_ = on; }

 private:
  struct Dib {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint8_t* bits = nullptr;
  };
  bool MakeDib(Dib* dib);
  void FreeDib(Dib* dib);
  void Report(const Rect& r);
  void RestoreUnderPointer();
  void DrawPointer();

  HDC screen_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  uint32_t stride_ = 0;
  Dib surface_, grab_;
  std::vector<uint32_t> ring_;
  bool tracking_ = false;
  bool draw_pointer_ = true;
  bool pointer_drawn_ = false;
  Rect pointer_rect_;
  std::vector<uint8_t> save_under_;
};

}  // namespace kmr::platform
