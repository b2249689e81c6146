#pragma once

#include "platform/desktop_state/desktop_state.h"

namespace kmr::platform {

// The Win32 desktop: GetCursorInfo/GetIconInfo, the system cursor size,
// GetForegroundWindow/GetWindowRect/GetWindowRgn and GetAsyncKeyState.
class Win32DesktopState : public DesktopState {
 public:
  PointerState Pointer() override;
  bool ForegroundWindow(Rect* rect, Region* region) override;
  bool LeftButtonDown() override;
};

}  // namespace kmr::platform
