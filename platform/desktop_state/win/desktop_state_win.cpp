#include "platform/desktop_state/win/desktop_state_win.h"

#include <windows.h>

#include <vector>

namespace kmr::platform {

PointerState Win32DesktopState::Pointer() {
  PointerState p;
  CURSORINFO info{};
  info.cbSize = sizeof(info);
  if (!GetCursorInfo(&info)) return p;
  p.x = info.ptScreenPos.x;
  p.y = info.ptScreenPos.y;
  if (!(info.flags & CURSOR_SHOWING) || info.hCursor == nullptr) return p;
  ICONINFO icon{};
  if (!GetIconInfo(info.hCursor, &icon)) return p;
  // The bitmaps obtained for the hot spot are released again.
  if (icon.hbmMask) DeleteObject(icon.hbmMask);
  if (icon.hbmColor) DeleteObject(icon.hbmColor);
  if (icon.fIcon) return p;
  p.showing = true;
  p.hot_x = static_cast<int32_t>(icon.xHotspot);
  p.hot_y = static_cast<int32_t>(icon.yHotspot);
  p.width = GetSystemMetrics(SM_CXCURSOR);
  p.height = GetSystemMetrics(SM_CYCURSOR);
  return p;
}

bool Win32DesktopState::ForegroundWindow(Rect* rect, Region* region) {
  HWND w = GetForegroundWindow();
  RECT r;
  if (w == nullptr || !GetWindowRect(w, &r)) return false;
  *rect = Rect{r.left, r.top, r.right, r.bottom};
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  const int kind = rgn ? GetWindowRgn(w, rgn) : ERROR;
  if (kind == SIMPLEREGION || kind == COMPLEXREGION) {
    // Rebuild the window region in our own region type, moved to the window.
    region->SetEmpty();
    const DWORD size = GetRegionData(rgn, 0, nullptr);
    std::vector<unsigned char> data(size);
    if (size != 0 && GetRegionData(rgn, size, reinterpret_cast<RGNDATA*>(data.data())) != 0) {
      const auto* rd = reinterpret_cast<const RGNDATA*>(data.data());
      const RECT* rects = reinterpret_cast<const RECT*>(rd->Buffer);
      for (DWORD i = 0; i < rd->rdh.nCount; ++i) {
        region->Union(Rect{rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
      }
    }
    region->Offset(r.left, r.top);
  } else {
    region->SetRect(*rect);
  }
  if (rgn) DeleteObject(rgn);
  return true;
}

bool Win32DesktopState::LeftButtonDown() { return (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0; }

}  // namespace kmr::platform
