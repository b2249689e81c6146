// The region tracker's desktop and border window on X11, over a display
// connection of their own: the pointer grab with a cross or hand cursor
// stands in for swapping the system cursors, and the border is an
// override-redirect window shaped to its 1-pixel frame that lets every
// click through.
#pragma once

#include <X11/Xlib.h>

#include "recorder/ui/region/region_tracker.h"

namespace kmr {

class X11BorderWindow;

class X11RegionDesktop : public RegionDesktop {
 public:
  // border: the window WindowAt never returns (may be null).
  X11RegionDesktop(Display* dpy, const X11BorderWindow* border);
  ~X11RegionDesktop() override;

  Rect Screen() override;
  SelectionInput ReadInput() override;
  uintptr_t WindowAt(Point p) override;
  std::optional<Rect> WindowRect(uintptr_t window) override;
  void SwapCursors(int cursor_id) override;
  void RestoreCursors() override;
  // Whether the pointer and keyboard are ours (a grab can be refused while
  // another program holds one; it is tried again at every tick).
  bool Grabbed() const { return grabbed_; }

 private:
  void TryGrab();

  Display* dpy_;
  const X11BorderWindow* border_;
  Cursor cursor_ = 0;
  bool want_grab_ = false;
  bool grabbed_ = false;
};

class X11BorderWindow : public BorderWindow {
 public:
  explicit X11BorderWindow(Display* dpy);
  ~X11BorderWindow() override;
  bool Created() const { return window_ != 0; }
  Window Id() const { return window_; }

  void Place(const Rect& r) override;
  void Draw(int phase) override;
  void KeepOnTop() override;
  void Show() override;
  void Hide() override;

 private:
  void Map();

  Display* dpy_;
  Window window_ = 0;
  Pixmap stipple_ = 0;
  GC gc_ = nullptr;
  Rect rect_;
  bool shown_ = false;
  bool mapped_ = false;
};

}  // namespace kmr
