// A mirror without a driver, for systems where the mirror driver is not
// installed or cannot load (64-bit builds, newer Windows, Wine): it owns a
// 32-bit surface the size of the screen and, on each frame, copies the screen,
// compares it with the surface in blocks, takes over the changed pixels of
// each run of changed blocks and reports them as rectangles of changed spans. The screen copies
// hold no pointer: a PointerCompositor with GdiPointerSource draws it in
// (CreateCaptureMirror makes that pair).
#pragma once

#include <windows.h>

#include <vector>

#include "platform/mirror/mirror.h"
#include "platform/mirror/own_change_ring.h"
#include "platform/mirror/pointer_compositor.h"

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

  // The surface's device context, for drawing into it with GDI.
  HDC SurfaceDc() const { return surface_.dc; }

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
  void TakeChanges(const Rect& run);

  HDC screen_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  uint32_t stride_ = 0;
  Dib surface_, grab_;
  OwnChangeRing ring_;
};

// The system cursor, drawn by the system into the polling mirror's surface.
class GdiPointerSource : public PointerSource {
 public:
  explicit GdiPointerSource(PollingMirror* mirror) : mirror_(mirror) {}
  bool Fetch(PointerImage* pointer) override;
  void Draw(const PointerImage& pointer, const PlaneView& surface, const SurfaceFormat& format) override;

 private:
  PollingMirror* mirror_;
  HCURSOR cursor_ = nullptr;
};

}  // namespace kmr::platform
