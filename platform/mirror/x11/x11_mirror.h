// The X11 mirror: the X server's DAMAGE extension reports what was drawn on
// the root window; the damaged rectangles are read with MIT-SHM into the
// surface and reported into the change ring. The server does not draw the
// pointer into the root's pixels: a PointerCompositor around the mirror
// draws it from X11PointerSource (XFixes).
#pragma once

#include <memory>
#include <string>

#include "platform/mirror/mirror.h"
#include "platform/mirror/pointer_compositor.h"

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

  const std::string& Error() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string display_;
  std::string error_;
};

// The X server's pointer (XFixes), through a connection of its own.
class X11PointerSource : public PointerSource {
 public:
  // display: an X display name, or empty for $DISPLAY.
  explicit X11PointerSource(const std::string& display = {});
  ~X11PointerSource() override;
  X11PointerSource(const X11PointerSource&) = delete;
  X11PointerSource& operator=(const X11PointerSource&) = delete;
  bool Fetch(PointerImage* pointer) override;

 private:
  void* dpy_;  // Display*
};

}  // namespace kmr::platform
