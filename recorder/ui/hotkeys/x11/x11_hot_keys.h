// Hot keys on an X display: XGrabKey on the root window, with the lock-key
// variants (Caps Lock, Num Lock) so that they work whatever is locked. A
// connection of its own, read without blocking.
#pragma once

#include <X11/Xlib.h>

#include <map>
#include <string>
#include <vector>

#include "recorder/ui/hotkeys/hot_key.h"

namespace kmr {

// The X keysym of a virtual-key code (0 for codes without one).
unsigned long KeysymOfVirtualKey(uint32_t code);

class X11HotKeys : public HotKeySource {
 public:
  // display: the name ("" or null: $DISPLAY).
  explicit X11HotKeys(const char* display = nullptr);
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  bool Opened() const { return dpy_ != nullptr; }
  bool Grab(int id, uint32_t value, std::string* error) override;
  void Release(int id) override;
  int NextPressed() override;

 private:
  struct Binding {
    int keycode;
    unsigned int modifiers;
  };
  Display* dpy_ = nullptr;
  std::map<int, Binding> grabbed_;
};

}  // namespace kmr
