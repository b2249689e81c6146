#include "recorder/ui/region/x11/x11_region.h"
#include "platform/x11/x11_connection.h"

#include <X11/cursorfont.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

namespace kmr {

X11RegionDesktop::X11RegionDesktop(Display* dpy, const X11BorderWindow* border) : dpy_(dpy), border_(border) {}

X11RegionDesktop::~X11RegionDesktop() { RestoreCursors(); }

Rect X11RegionDesktop::Screen() {
  if (platform::XConnectionLost()) return {};  // the server is gone: nothing to ask it
  const int s = DefaultScreen(dpy_);
  return Rect{0, 0, DisplayWidth(dpy_, s), DisplayHeight(dpy_, s)};
}

void X11RegionDesktop::TryGrab() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (!want_grab_ || grabbed_) return;
  const Window root = DefaultRootWindow(dpy_);
  const unsigned mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
  if (XGrabPointer(dpy_, root, False, mask, GrabModeAsync, GrabModeAsync, None, cursor_, CurrentTime) !=
      GrabSuccess) {
    return;
  }
  if (XGrabKeyboard(dpy_, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) != GrabSuccess) {
    XUngrabPointer(dpy_, CurrentTime);
    return;
  }
  grabbed_ = true;
  XFlush(dpy_);
}

SelectionInput X11RegionDesktop::ReadInput() {
  if (platform::XConnectionLost()) return {};  // the server is gone: nothing to ask it
  TryGrab();
  SelectionInput in;
  while (XPending(dpy_) > 0) {
    XEvent e;
    XPeekEvent(dpy_, &e);
    // One press a tick: a press after this tick's press or release waits
    // for the next tick, so that quick clicks are taken in their order.
    if (e.type == ButtonPress && e.xbutton.button == Button1 && (in.left_down || in.left_up)) break;
    XNextEvent(dpy_, &e);
    if (e.type == ButtonPress && e.xbutton.button == Button1 && !in.left_down) {
      in.left_down = true;
      in.pressed_at = Point{e.xbutton.x_root, e.xbutton.y_root};
    }
    if (e.type == ButtonPress && e.xbutton.button == Button3) in.right_down = true;
    if (e.type == ButtonRelease && e.xbutton.button == Button1) in.left_up = true;
    if (e.type == KeyPress && XLookupKeysym(&e.xkey, 0) == XK_Escape) in.escape = true;
  }
  Window root_return = 0, child = 0;
  int x = 0, y = 0, wx = 0, wy = 0;
  unsigned int buttons = 0;
  if (XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root_return, &child, &x, &y, &wx, &wy, &buttons)) {
    in.cursor = Point{x, y};
  }
  return in;
}

uintptr_t X11RegionDesktop::WindowAt(Point p) {
  if (platform::XConnectionLost()) return {};  // the server is gone: nothing to ask it
  const Window root = DefaultRootWindow(dpy_);
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(dpy_, root, root, p.x, p.y, &x, &y, &child)) return 0;
  if (border_ != nullptr && child == border_->Id()) return 0;
  return child;
}

std::optional<Rect> X11RegionDesktop::WindowRect(uintptr_t window) {
  if (platform::XConnectionLost()) return {};  // the server is gone: nothing to ask it
  XWindowAttributes a;
  const Window w = static_cast<Window>(window);
  if (!XGetWindowAttributes(dpy_, w, &a) || a.map_state != IsViewable) return std::nullopt;
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(dpy_, w, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child)) return std::nullopt;
  return Rect{x, y, x + a.width, y + a.height};
}

void X11RegionDesktop::SwapCursors(int cursor_id) {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (want_grab_) return;
  cursor_ = XCreateFontCursor(dpy_, cursor_id == RegionTracker::kHandCursor ? XC_hand2 : XC_crosshair);
  want_grab_ = true;
  // Events from before the selection are not part of it.
  XSync(dpy_, True);
  TryGrab();
}

void X11RegionDesktop::RestoreCursors() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (!want_grab_) return;
  if (grabbed_) {
    XUngrabKeyboard(dpy_, CurrentTime);
    XUngrabPointer(dpy_, CurrentTime);
  }
  if (cursor_ != 0) XFreeCursor(dpy_, cursor_);
  cursor_ = 0;
  want_grab_ = grabbed_ = false;
  XSync(dpy_, False);
}

namespace {
// Four rows of four set and four clear pixels, then the opposite four rows
// (bitmap data: the lowest bit is the leftmost pixel).
const unsigned char kPattern[8] = {0x0F, 0x0F, 0x0F, 0x0F, 0xF0, 0xF0, 0xF0, 0xF0};
}  // namespace

X11BorderWindow::X11BorderWindow(Display* dpy) : dpy_(dpy) {
  const int s = DefaultScreen(dpy_);
  const Window root = RootWindow(dpy_, s);
  XSetWindowAttributes a{};
  a.override_redirect = True;
  a.background_pixmap = None;
  window_ = XCreateWindow(dpy_, root, 0, 0, 1, 1, 0, CopyFromParent, InputOutput, CopyFromParent,
                          CWOverrideRedirect | CWBackPixmap, &a);
  if (window_ == 0) return;
  XStoreName(dpy_, window_, "kelvo border");
  // Clicks go through to the windows below.
  XShapeCombineRectangles(dpy_, window_, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
  stipple_ = XCreateBitmapFromData(dpy_, window_, reinterpret_cast<const char*>(kPattern), 8, 8);
  XGCValues v{};
  v.foreground = WhitePixel(dpy_, s);
  v.background = BlackPixel(dpy_, s);
  v.fill_style = FillOpaqueStippled;
  v.stipple = stipple_;
  gc_ = XCreateGC(dpy_, window_, GCForeground | GCBackground | GCFillStyle | GCStipple, &v);
}

X11BorderWindow::~X11BorderWindow() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (gc_ != nullptr) XFreeGC(dpy_, gc_);
  if (stipple_ != 0) XFreePixmap(dpy_, stipple_);
  if (window_ != 0) XDestroyWindow(dpy_, window_);
  XSync(dpy_, False);
}

void X11BorderWindow::Place(const Rect& r) {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (window_ == 0) return;
  rect_ = r;
  if (r.IsEmpty()) {
    if (mapped_) XUnmapWindow(dpy_, window_);
    mapped_ = false;
    XFlush(dpy_);
    return;
  }
  const int w = r.Width(), h = r.Height();
  XMoveResizeWindow(dpy_, window_, r.left, r.top, static_cast<unsigned>(w), static_cast<unsigned>(h));
  // The frame alone: the window less the same rectangle shrunk by a pixel.
  XRectangle frame[4] = {
      {0, 0, static_cast<unsigned short>(w), 1},
      {0, static_cast<short>(h - 1), static_cast<unsigned short>(w), 1},
      {0, 0, 1, static_cast<unsigned short>(h)},
      {static_cast<short>(w - 1), 0, 1, static_cast<unsigned short>(h)},
  };
  XShapeCombineRectangles(dpy_, window_, ShapeBounding, 0, 0, frame, 4, ShapeSet, Unsorted);
  Map();
}

void X11BorderWindow::Draw(int phase) {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (window_ == 0 || !mapped_) return;
  const int w = rect_.Width(), h = rect_.Height();
  // The origins move with the phase, so the dashes run around the frame.
  XSetTSOrigin(dpy_, gc_, phase, 0);
  XFillRectangle(dpy_, window_, gc_, 0, 0, static_cast<unsigned>(w), 1);
  XSetTSOrigin(dpy_, gc_, 8 - phase, 0);
  XFillRectangle(dpy_, window_, gc_, 0, h - 1, static_cast<unsigned>(w), 1);
  XSetTSOrigin(dpy_, gc_, 0, phase);
  XFillRectangle(dpy_, window_, gc_, w - 1, 0, 1, static_cast<unsigned>(h));
  XSetTSOrigin(dpy_, gc_, 0, 8 - phase);
  XFillRectangle(dpy_, window_, gc_, 0, 0, 1, static_cast<unsigned>(h));
  XFlush(dpy_);
}

void X11BorderWindow::KeepOnTop() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (mapped_) XRaiseWindow(dpy_, window_);
}

void X11BorderWindow::Map() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  if (!shown_ || mapped_ || rect_.IsEmpty() || window_ == 0) return;
  XMapRaised(dpy_, window_);
  mapped_ = true;
  XFlush(dpy_);
}

void X11BorderWindow::Show() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  shown_ = true;
  Map();
}

void X11BorderWindow::Hide() {
  if (platform::XConnectionLost()) return;  // the server is gone: nothing to ask it
  shown_ = false;
  if (mapped_ && window_ != 0) XUnmapWindow(dpy_, window_);
  mapped_ = false;
  XFlush(dpy_);
}

}  // namespace kmr
