#include "platform/desktop_state/x11/desktop_state_x11.h"
#include "platform/x11/x11_connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace kmr::platform {

X11DesktopState::X11DesktopState(std::string display) {
  dpy_ = OpenXConnection(display);
  int ev = 0, err = 0;
  if (dpy_ != nullptr && !XFixesQueryExtension(dpy_, &ev, &err)) {
    XCloseDisplay(dpy_);
    dpy_ = nullptr;
  }
}

X11DesktopState::~X11DesktopState() {
  if (dpy_ != nullptr && !XConnectionLost()) XCloseDisplay(dpy_);
}

PointerState X11DesktopState::Pointer() {
  PointerState p;
  if (dpy_ == nullptr || XConnectionLost()) return p;
  XFixesCursorImage* c = XFixesGetCursorImage(dpy_);
  if (c == nullptr) return p;
  p.showing = c->width > 0 && c->height > 0;
  p.x = c->x;
  p.y = c->y;
  p.hot_x = c->xhot;
  p.hot_y = c->yhot;
  p.width = c->width;
  p.height = c->height;
  XFree(c);
  return p;
}

namespace {

Window TopLevel(Display* d, Window w) {
  const Window root = DefaultRootWindow(d);
  for (;;) {
    Window r = 0, parent = 0;
    Window* children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &r, &parent, &children, &n)) return 0;
    if (children) XFree(children);
    if (parent == root || parent == 0) return w;
    w = parent;
  }
}

Window ActiveWindow(Display* d) {
  const Atom active = XInternAtom(d, "_NET_ACTIVE_WINDOW", True);
  if (active != None) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, DefaultRootWindow(d), active, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                           &data) == Success &&
        data != nullptr) {
      Window w = n == 1 ? *reinterpret_cast<Window*>(data) : 0;
      XFree(data);
      if (w != 0) return w;
    }
  }
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  if (focus == None || focus == PointerRoot || focus == DefaultRootWindow(d)) return 0;
  return TopLevel(d, focus);
}

}  // namespace

bool X11DesktopState::ForegroundWindow(Rect* rect, Region* region) {
  if (dpy_ == nullptr || XConnectionLost()) return false;
  const Window w = ActiveWindow(dpy_);
  if (w == 0) return false;
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy_, w, &a) || a.map_state != IsViewable) return false;
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
  // The window rectangle includes its border, as a window rectangle does.
  *rect = Rect{x - a.border_width, y - a.border_width, x + a.width + a.border_width, y + a.height + a.border_width};
  region->SetRect(*rect);
  return true;
}

bool X11DesktopState::LeftButtonDown() {
  if (dpy_ == nullptr || XConnectionLost()) return false;
  Window root = 0, child = 0;
  int rx = 0, ry = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root, &child, &rx, &ry, &wx, &wy, &mask);
  return (mask & Button1Mask) != 0;
}

}  // namespace kmr::platform
