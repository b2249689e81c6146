// Posts the writer's notify message to a window.
#pragma once

#include <windows.h>

#include "platform/notify/notify.h"

namespace kmr::platform {

class WindowNotifyTarget : public NotifyTarget {
 public:
  explicit WindowNotifyTarget(HWND window) : window_(window) {}
  void Post(uint32_t message) override { PostMessageA(window_, message, 0, 0); }

 private:
  HWND window_;
};

}  // namespace kmr::platform
