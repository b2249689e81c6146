// The X11 mirror: the X server's DAMAGE extension reports what was drawn on
// the root window; the damaged rectangles are read with MIT-SHM into the
// surface and reported into the change ring. The server does not draw the
// pointer into the root's pixels, so the mirror draws it into the surface
// (with save-under) from XFixes, as a system without a hardware pointer
// would, and reports its old and new rectangles.
#pragma once

#include <memory>
#include <string>

#include "platform/mirror/mirror.h"

namespace kmr::platform {

class X11Mirror : public Mirror {
 public:
  // display: an X display name, or empty for $DISPLAY.
  explicit X11Mirror(std::string display = {});
  ~X11Mirror() override;

  bool Attach() override;
  void Detach() override;
  bool MapSurface(uint8_t** bits, SurfaceFormat* format) override;
  void UnmapSurface() override;
  bool MapChangeRing(uint32_t capacity, uint8_t** ring) override;
  void UnmapChangeRing() override;
  bool EnableTracking() override;
  ScreenMetrics Screen() override;
  bool SeedFromScreen(const Rect& r) override;
  bool FillBlack(const Rect& r) override;
  void Update() override;

  // Draw the pointer into the surface (on by default).
  void SetDrawPointer(bool on) { draw_pointer_ = on; }
  const std::string& Error() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string display_;
  std::string error_;
  bool draw_pointer_ = true;
};

}  // namespace kmr::platform
