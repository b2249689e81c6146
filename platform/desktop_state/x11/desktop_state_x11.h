#pragma once

#include <string>

#include "platform/desktop_state/desktop_state.h"

typedef struct _XDisplay Display;

namespace kmr::platform {

// The X11 desktop: the pointer from XFixes, the active window
// (_NET_ACTIVE_WINDOW, else the input focus's top-level window) and the
// left button from XQueryPointer.
class X11DesktopState : public DesktopState {
 public:
  explicit X11DesktopState(std::string display = {});
  ~X11DesktopState() override;
  bool IsOpen() const { return dpy_ != nullptr; }

  PointerState Pointer() override;
  bool ForegroundWindow(Rect* rect, Region* region) override;
  bool LeftButtonDown() override;

 private:
  Display* dpy_ = nullptr;
};

}  // namespace kmr::platform
