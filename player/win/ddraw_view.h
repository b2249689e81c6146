// The player's view on Windows: DirectDraw. A primary surface with a clipper
// on the window, a screen-sized off-screen surface for the GDI fallback, and a
// mirror surface in the display's format that takes the decoder's picture and
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

  // From the decoder thread: repaint and wait at most timeout_ms.
  bool Repaint(uint32_t timeout_ms) override;
  // From WM_PAINT.
  void Paint();

 private:
  bool EnsureMirrorSurface();
  HRESULT BltRestoring(IDirectDrawSurface* dst, RECT* d, IDirectDrawSurface* src, RECT* s, DWORD flags, DDBLTFX* fx);

  ScreenVideoDecoder* decoder_;
  HWND window_ = nullptr;
  IDirectDraw* dd_ = nullptr;
  IDirectDrawSurface* primary_ = nullptr;
  IDirectDrawSurface* offscreen_ = nullptr;
  IDirectDrawSurface* mirror_ = nullptr;
  IDirectDrawClipper* clipper_ = nullptr;
  int32_t mirror_w_ = 0, mirror_h_ = 0;
  bool fit_ = false;
};

}  // namespace kmr
