// What the lossless encoder needs to know about the desktop at each frame:
// where the pointer is and how big it is, the foreground window with its
// window region, and whether the left button is down.
#pragma once

#include "platform/region/region.h"
#include "shared/geometry.h"

namespace kmr::platform {

struct PointerState {
  bool showing = false;  // showing, and a cursor rather than an icon
  int32_t x = 0;         // position, screen coordinates, also when hidden
  int32_t y = 0;
  int32_t hot_x = 0;     // hot spot within the image
  int32_t hot_y = 0;
  int32_t width = 0;     // the system cursor size
  int32_t height = 0;
};

class DesktopState {
 public:
  virtual ~DesktopState() = default;
  virtual PointerState Pointer() = 0;
  // The foreground window's rectangle and, when it has one, its window region
  // in screen coordinates (else the region is set to the rectangle). False
  // when there is no foreground window.
  virtual bool ForegroundWindow(Rect* rect, Region* region) = 0;
  virtual bool LeftButtonDown() = 0;
};

// No pointer, no window, no button: offline encoding.
class NoDesktopState : public DesktopState {
 public:
  PointerState Pointer() override { return {}; }
  bool ForegroundWindow(Rect*, Region*) override { return false; }
  bool LeftButtonDown() override { return false; }
};

}  // namespace kmr::platform
