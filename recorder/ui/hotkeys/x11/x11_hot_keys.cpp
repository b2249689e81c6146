#include "recorder/ui/hotkeys/x11/x11_hot_keys.h"
#include "platform/x11/x11_connection.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

namespace kmr {

namespace {

// The lock keys that may be on while a hot key is pressed.
constexpr unsigned int kLockVariants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

bool g_refused = false;
int NoteRefusal(Display*, XErrorEvent* e) {
  if (e->error_code == BadAccess) g_refused = true;
  return 0;
}

}  // namespace

unsigned long KeysymOfVirtualKey(uint32_t code) {
  if (code >= 0x70 && code <= 0x87) return XK_F1 + (code - 0x70);
  if (code >= 0x30 && code <= 0x39) return XK_0 + (code - 0x30);
  if (code >= 0x41 && code <= 0x5A) return XK_a + (code - 0x41);
  if (code >= 0x60 && code <= 0x69) return XK_KP_0 + (code - 0x60);
  switch (code) {
    case 0x08: return XK_BackSpace;
    case 0x09: return XK_Tab;
    case 0x0D: return XK_Return;
    case 0x13: return XK_Pause;
    case 0x1B: return XK_Escape;
    case 0x20: return XK_space;
    case 0x21: return XK_Prior;
    case 0x22: return XK_Next;
    case 0x23: return XK_End;
    case 0x24: return XK_Home;
    case 0x25: return XK_Left;
    case 0x26: return XK_Up;
    case 0x27: return XK_Right;
    case 0x28: return XK_Down;
    case 0x2C: return XK_Print;
    case 0x2D: return XK_Insert;
    case 0x2E: return XK_Delete;
    case 0x6A: return XK_KP_Multiply;
    case 0x6B: return XK_KP_Add;
    case 0x6D: return XK_KP_Subtract;
    case 0x6E: return XK_KP_Decimal;
    case 0x6F: return XK_KP_Divide;
    case 0x91: return XK_Scroll_Lock;
    default: return 0;
  }
}

X11HotKeys::X11HotKeys(const char* display) { dpy_ = platform::OpenXConnection(display != nullptr ? display : ""); }

X11HotKeys::~X11HotKeys() {
  if (dpy_ == nullptr || platform::XConnectionLost()) return;
  for (const auto& [id, b] : grabbed_) {
    for (unsigned int lock : kLockVariants) {
      XUngrabKey(dpy_, b.keycode, b.modifiers | lock, DefaultRootWindow(dpy_));
    }
  }
  XCloseDisplay(dpy_);
}

bool X11HotKeys::Grab(int id, uint32_t value, std::string* error) {
  Release(id);
  const std::string name = HotKeyName(value);
  if (dpy_ == nullptr || platform::XConnectionLost()) {
    *error = "no X display for the hot key " + name;
    return false;
  }
  const unsigned long sym = KeysymOfVirtualKey(HotKeyCode(value));
  const int keycode = sym == 0 ? 0 : XKeysymToKeycode(dpy_, sym);
  if (keycode == 0) {
    *error = "the display has no key " + (name.empty() ? "for the hot key" : name);
    return false;
  }
  const uint32_t m = HotKeyModifiers(value);
  const unsigned int modifiers =
      ((m & kHotKeyAlt) ? Mod1Mask : 0) | ((m & kHotKeyCtrl) ? ControlMask : 0) | ((m & kHotKeyShift) ? ShiftMask : 0);
  // A refusal arrives as an error; the grabs are synced to hear of it.
  XSync(dpy_, False);
  g_refused = false;
  XErrorHandler previous = XSetErrorHandler(NoteRefusal);
  for (unsigned int lock : kLockVariants) {
    XGrabKey(dpy_, keycode, modifiers | lock, DefaultRootWindow(dpy_), False, GrabModeAsync, GrabModeAsync);
  }
  XSync(dpy_, False);
  XSetErrorHandler(previous);
  if (g_refused) {
    for (unsigned int lock : kLockVariants) XUngrabKey(dpy_, keycode, modifiers | lock, DefaultRootWindow(dpy_));
    XSync(dpy_, False);
    *error = "another program holds the hot key " + name;
    return false;
  }
  grabbed_[id] = Binding{keycode, modifiers};
  return true;
}

void X11HotKeys::Release(int id) {
  const auto it = grabbed_.find(id);
  if (it == grabbed_.end() || dpy_ == nullptr || platform::XConnectionLost()) return;
  for (unsigned int lock : kLockVariants) {
    XUngrabKey(dpy_, it->second.keycode, it->second.modifiers | lock, DefaultRootWindow(dpy_));
  }
  XSync(dpy_, False);
  grabbed_.erase(it);
}

int X11HotKeys::NextPressed() {
  if (dpy_ == nullptr || platform::XConnectionLost()) return -1;
  while (XPending(dpy_) > 0) {
    XEvent e;
    XNextEvent(dpy_, &e);
    if (e.type != KeyPress) continue;
    const unsigned int state = e.xkey.state & (ShiftMask | ControlMask | Mod1Mask);
    for (const auto& [id, b] : grabbed_) {
      if (static_cast<int>(e.xkey.keycode) == b.keycode && state == b.modifiers) return id;
    }
  }
  return -1;
}

}  // namespace kmr
