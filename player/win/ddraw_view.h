// The player's view on Windows: DirectDraw. A primary surface with a clipper
// on the window, a screen-sized off-screen surface for the GDI fallback, and a
// surface in the display's format that takes the decoder's picture and
// is blitted (and scaled) to the window.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include "player/video_renderer.h"

namespace kmr {

class DirectDrawView : public VideoView {
 public:
  explicit DirectDrawView(ScreenVideoDecoder* decoder) : decoder_(decoder) {}
  ~DirectDrawView() override { CloseDisplay(); }

  bool OpenDisplay(HWND window);
  void CloseDisplay();
  void SetFit(bool fit) { fit_ = fit; }
  bool Fit() const { return fit_; }
  // Where in the window's client area the picture goes (empty: all of it).
  void SetViewRect(const RECT& r) { view_ = r; }
  const RECT& ViewRect() const { return view_; }
  // The scroll position: the picture's pixel at the view's top-left corner.
  void SetScroll(int32_t x, int32_t y) {
    scroll_x_ = x;
    scroll_y_ = y;
  }
  int32_t ScrollX() const { return scroll_x_; }
  int32_t ScrollY() const { return scroll_y_; }

  // From the decoder thread: repaint and wait at most timeout_ms.
  bool Repaint(uint32_t timeout_ms) override;
  // From WM_PAINT.
  void Paint();

 private:
  bool EnsureDisplaySurface();
  HRESULT BltRestoring(IDirectDrawSurface* dst, RECT* d, IDirectDrawSurface* src, RECT* s, DWORD flags, DDBLTFX* fx);

  ScreenVideoDecoder* decoder_;
  HWND window_ = nullptr;
  IDirectDraw* dd_ = nullptr;
  IDirectDrawSurface* primary_ = nullptr;
  IDirectDrawSurface* offscreen_ = nullptr;
  IDirectDrawSurface* display_surface_ = nullptr;
  IDirectDrawClipper* clipper_ = nullptr;
  int32_t surface_w_ = 0, surface_h_ = 0;
  bool fit_ = false;
  int32_t scroll_x_ = 0, scroll_y_ = 0;
  RECT view_{0, 0, 0, 0};
};

}  // namespace kmr
