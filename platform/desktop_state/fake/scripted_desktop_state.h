// A desktop whose pointer, foreground window and button the test sets.
#pragma once

#include "platform/desktop_state/desktop_state.h"

namespace kmr::platform {

class ScriptedDesktopState : public DesktopState {
 public:
  PointerState pointer;
  bool has_window = false;
  Rect window;
  bool has_window_region = false;
  Region window_region;  // screen coordinates
  bool left_button = false;

  PointerState Pointer() override { return pointer; }
  bool ForegroundWindow(Rect* rect, Region* region) override {
    if (!has_window) return false;
    *rect = window;
    if (has_window_region) {
      *region = window_region;
    } else {
      region->SetRect(window);
    }
    return true;
  }
  bool LeftButtonDown() override { return left_button; }
};

}  // namespace kmr::platform
