#include "player/win/ddraw_view.h"

#include <cstring>

#include "player/placement.h"

namespace kmr {

namespace {
template <typename T>
void ReleaseCom(T*& p) {
  if (p) p->Release();
  p = nullptr;
}
}  // namespace

bool DirectDrawView::OpenDisplay(HWND window) {
  CloseDisplay();
  window_ = window;
  if (FAILED(DirectDrawCreate(nullptr, &dd_, nullptr))) return false;
  bool ok = SUCCEEDED(dd_->SetCooperativeLevel(window, DDSCL_NORMAL));
  DDSURFACEDESC sd{};
  sd.dwSize = sizeof(sd);
  sd.dwFlags = DDSD_CAPS;
  sd.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  ok = ok && SUCCEEDED(dd_->CreateSurface(&sd, &primary_, nullptr));
  if (ok) {
    DDSURFACEDESC off{};
    off.dwSize = sizeof(off);
    off.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    off.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    off.dwWidth = static_cast<DWORD>(GetSystemMetrics(SM_CXSCREEN));
    off.dwHeight = static_cast<DWORD>(GetSystemMetrics(SM_CYSCREEN));
    ok = SUCCEEDED(dd_->CreateSurface(&off, &offscreen_, nullptr));
  }
  ok = ok && SUCCEEDED(dd_->CreateClipper(0, &clipper_, nullptr)) && SUCCEEDED(clipper_->SetHWnd(0, window)) &&
       SUCCEEDED(primary_->SetClipper(clipper_));
  if (!ok) {
    CloseDisplay();
    return false;
  }
  // The decoder keeps its display copy in the display's own format.
  DDSURFACEDESC pd{};
  pd.dwSize = sizeof(pd);
  if (SUCCEEDED(primary_->GetSurfaceDesc(&pd))) {
    const DWORD bits = pd.ddpfPixelFormat.dwRGBBitCount;
    decoder_->SetDisplayFormat(PixelFormat{bits, bits == 16 && pd.ddpfPixelFormat.dwGBitMask == 0x3E0});
    decoder_->CreateDisplayCopy();
  }
  return true;
}

void DirectDrawView::CloseDisplay() {
  if (primary_) primary_->SetClipper(nullptr);
  ReleaseCom(display_surface_);
  ReleaseCom(clipper_);
  ReleaseCom(offscreen_);
  ReleaseCom(primary_);
  ReleaseCom(dd_);
  surface_w_ = surface_h_ = 0;
}

bool DirectDrawView::Repaint(uint32_t timeout_ms) {
  if (window_ == nullptr) return false;
  InvalidateRect(window_, view_.right > view_.left ? &view_ : nullptr, FALSE);
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window_, WM_PAINT, 0, 0, SMTO_NORMAL, timeout_ms, &result) != 0;
}

bool DirectDrawView::EnsureDisplaySurface() {
  const int32_t w = decoder_->FrameWidth(), h = decoder_->FrameHeight();
  if (!decoder_->HasDisplayCopy() || w <= 0 || h <= 0 || w > GetSystemMetrics(SM_CXSCREEN) ||
      h > GetSystemMetrics(SM_CYSCREEN)) {
    ReleaseCom(display_surface_);
    return false;
  }
  if (display_surface_ != nullptr && surface_w_ == w && surface_h_ == h) return true;
  ReleaseCom(display_surface_);
  DDSURFACEDESC sd{};
  sd.dwSize = sizeof(sd);
  sd.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  sd.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  sd.dwWidth = static_cast<DWORD>(w);
  sd.dwHeight = static_cast<DWORD>(h);
  if (FAILED(dd_->CreateSurface(&sd, &display_surface_, nullptr))) return false;
  surface_w_ = w;
  surface_h_ = h;
  return true;
}

HRESULT DirectDrawView::BltRestoring(IDirectDrawSurface* dst, RECT* d, IDirectDrawSurface* src, RECT* s, DWORD flags,
                                     DDBLTFX* fx) {
  HRESULT hr = dst->Blt(d, src, s, flags | DDBLT_WAIT, fx);
  if (hr == DDERR_SURFACELOST) {
    primary_->Restore();
    if (src) src->Restore();
    hr = dst->Blt(d, src, s, flags | DDBLT_WAIT, fx);
  }
  return hr;
}

void DirectDrawView::Paint() {
  PAINTSTRUCT ps;
  BeginPaint(window_, &ps);
  EndPaint(window_, &ps);
  if (primary_ == nullptr) return;
  RECT client;
  GetClientRect(window_, &client);
  if (view_.right > view_.left) client = view_;
  POINT origin{client.left, client.top};
  ClientToScreen(window_, &origin);
  const Rect c{origin.x, origin.y, origin.x + client.right - client.left, origin.y + client.bottom - client.top};

  decoder_->LockDecoder();
  const int32_t w = decoder_->FrameWidth(), h = decoder_->FrameHeight();
  const bool have_surface = EnsureDisplaySurface();
  if (have_surface) {
    DDSURFACEDESC sd{};
    sd.dwSize = sizeof(sd);
    if (SUCCEEDED(display_surface_->Lock(nullptr, &sd, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr))) {
      const uint32_t row = static_cast<uint32_t>(w) * (decoder_->DisplayFormat().bits / 8);
      for (int32_t y = 0; y < h; ++y) {
        std::memcpy(static_cast<uint8_t*>(sd.lpSurface) + static_cast<size_t>(y) * sd.lPitch,
                    decoder_->DisplayCopy() + static_cast<size_t>(y) * decoder_->DisplayCopyPitch(), row);
      }
      display_surface_->Unlock(nullptr);
    }
  }
  const Placement p = PlacePicture(c, fit_ ? 0 : -scroll_x_, fit_ ? 0 : -scroll_y_, w, h, fit_);
  if (p.has_picture) {
    RECT f{p.dest.left, p.dest.top, p.dest.right, p.dest.bottom};
    RECT l{p.source.left, p.source.top, p.source.right, p.source.bottom};
    if (have_surface) {
      BltRestoring(primary_, &f, display_surface_, &l, 0, nullptr);
    } else if (const PlaneView* pic = decoder_->Picture()) {
      // The frame is larger than the screen (or has no display conversion):
      // GDI stretches the picture into the off-screen surface first.
      HDC dc = nullptr;
      if (SUCCEEDED(offscreen_->GetDC(&dc))) {
        // The header with the colour table of an 8-bit frame or the masks of
        // a 5-6-5 one, as GDI reads them after it.
        const std::vector<uint8_t> bi = decoder_->DibHeader();
        const int old = SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, f.left - c.left, f.top - c.top, f.right - f.left, f.bottom - f.top, l.left, l.top,
                      l.right - l.left, l.bottom - l.top, pic->data, reinterpret_cast<const BITMAPINFO*>(bi.data()),
                      DIB_RGB_COLORS, SRCCOPY);
        SetStretchBltMode(dc, old);
        offscreen_->ReleaseDC(dc);
        RECT o{f.left - c.left, f.top - c.top, f.right - c.left, f.bottom - c.top};
        BltRestoring(primary_, &f, offscreen_, &o, 0, nullptr);
      }
    }
  }
  decoder_->UnlockDecoder();
  DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  fx.dwFillColor = 0;
  for (const Rect& b : p.borders) {
    RECT r{b.left, b.top, b.right, b.bottom};
    BltRestoring(primary_, &r, nullptr, nullptr, DDBLT_COLORFILL, &fx);
  }
}

}  // namespace kmr
