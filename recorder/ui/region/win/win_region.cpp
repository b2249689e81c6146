#include "recorder/ui/region/win/win_region.h"

#include <utility>

namespace kmr {

// ---- system cursors

SystemCursors::Handle WinSystemCursors::CopyCurrent(int id) {
  // Without an instance the system's own cursor of that id is returned.
  HCURSOR shown = LoadCursor(nullptr, MAKEINTRESOURCE(id));
  return shown != nullptr ? reinterpret_cast<Handle>(CopyIcon(shown)) : 0;
}

SystemCursors::Handle WinSystemCursors::CopyStandard(int id) { return CopyCurrent(id); }

bool WinSystemCursors::SetSystem(Handle cursor, int id) {
  return SetSystemCursor(reinterpret_cast<HCURSOR>(cursor), static_cast<DWORD>(id)) != FALSE;
}

void WinSystemCursors::Destroy(Handle cursor) { DestroyCursor(reinterpret_cast<HCURSOR>(cursor)); }

// ---- border window

namespace {
const char kBorderClass[] = "KelvoBorder";
// Four rows of four set and four clear pixels, then the opposite four rows;
// monochrome bitmap rows are whole words.
const WORD kPattern[8] = {0xF0F0, 0xF0F0, 0xF0F0, 0xF0F0, 0x0F0F, 0x0F0F, 0x0F0F, 0x0F0F};
}  // namespace

WinBorderWindow::~WinBorderWindow() { Destroy(); }

bool WinBorderWindow::Create(HINSTANCE instance) {
  if (hwnd_ != nullptr) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = kBorderClass;
  RegisterClassA(&wc);  // a second registration fails harmlessly
  pattern_ = CreateBitmap(8, 8, 1, 1, kPattern);
  brush_ = pattern_ != nullptr ? CreatePatternBrush(pattern_) : nullptr;
  if (brush_ == nullptr) {
    Destroy();
    return false;
  }
  hwnd_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kBorderClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                          instance, this);
  if (hwnd_ == nullptr) {
    Destroy();
    return false;
  }
  SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

void WinBorderWindow::Destroy() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  if (brush_ != nullptr) DeleteObject(brush_);
  brush_ = nullptr;
  if (pattern_ != nullptr) DeleteObject(pattern_);
  pattern_ = nullptr;
}

LRESULT CALLBACK WinBorderWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<WinBorderWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == WM_PAINT && self != nullptr) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    self->Paint(dc);
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void WinBorderWindow::Place(const Rect& r) {
  if (hwnd_ == nullptr) return;
  rect_ = r;
  const int w = r.Width() > 0 ? r.Width() : 0, h = r.Height() > 0 ? r.Height() : 0;
  SetWindowPos(hwnd_, nullptr, r.left, r.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  // The frame alone: the client rectangle less the same shrunk by a pixel.
  HRGN frame = CreateRectRgn(0, 0, w, h);
  HRGN inner = CreateRectRgn(1, 1, w - 1, h - 1);
  if (frame != nullptr && inner != nullptr) {
    CombineRgn(frame, frame, inner, RGN_XOR);
    if (SetWindowRgn(hwnd_, frame, TRUE)) frame = nullptr;  // the system owns it now
  }
  if (frame != nullptr) DeleteObject(frame);
  if (inner != nullptr) DeleteObject(inner);
}

void WinBorderWindow::Paint(HDC dc) {
  const int w = rect_.Width(), h = rect_.Height();
  if (w <= 0 || h <= 0) return;
  HGDIOBJ old = SelectObject(dc, brush_);
  // The changing origins make the dashes run around the frame.
  SetBrushOrgEx(dc, phase_, 0, nullptr);
  PatBlt(dc, 0, 0, w, 1, PATCOPY);
  SetBrushOrgEx(dc, 8 - phase_, 0, nullptr);
  PatBlt(dc, 0, h - 1, w, 1, PATCOPY);
  SetBrushOrgEx(dc, 0, phase_, nullptr);
  PatBlt(dc, w - 1, 0, 1, h, PATCOPY);
  SetBrushOrgEx(dc, 0, 8 - phase_, nullptr);
  PatBlt(dc, 0, 0, 1, h, PATCOPY);
  SelectObject(dc, old);
}

void WinBorderWindow::Draw(int phase) {
  phase_ = phase;
  if (hwnd_ == nullptr || !IsWindowVisible(hwnd_)) return;
  HDC dc = GetDC(hwnd_);
  if (dc == nullptr) return;
  Paint(dc);
  ReleaseDC(hwnd_, dc);
}

void WinBorderWindow::KeepOnTop() {
  if (hwnd_ != nullptr) {
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOREDRAW | SWP_NOACTIVATE);
  }
}

void WinBorderWindow::Show() {
  if (hwnd_ != nullptr) ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
}

void WinBorderWindow::Hide() {
  if (hwnd_ != nullptr) ShowWindow(hwnd_, SW_HIDE);
}

// ---- desktop

Rect WinRegionDesktop::Screen() { return Rect{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

SelectionInput WinRegionDesktop::ReadInput() {
  SelectionInput in;
  POINT p{};
  if (GetCursorPos(&p)) in.cursor = Point{p.x, p.y};
  in.pressed_at = in.cursor;
  // A key that went down (or was pressed and released) since the last
  // reading counts as pressed.
  const auto went_down = [](int vk, bool* was) {
    const SHORT s = GetAsyncKeyState(vk);
    const bool down = (s & 0x8000) != 0;
    const bool pressed = (down && !*was) || (s & 1) != 0;
    const bool released = !down && (*was || (s & 1) != 0);
    *was = down;
    return std::pair<bool, bool>(pressed, released);
  };
  const auto left = went_down(VK_LBUTTON, &left_);
  in.left_down = left.first;
  in.left_up = left.second;
  in.right_down = went_down(VK_RBUTTON, &right_).first;
  in.escape = went_down(VK_ESCAPE, &escape_).first;
  return in;
}

uintptr_t WinRegionDesktop::WindowAt(Point p) {
  HWND w = WindowFromPoint(POINT{p.x, p.y});
  if (w == nullptr) return 0;
  HWND top = GetAncestor(w, GA_ROOT);
  if (top == nullptr) top = w;
  if (border_ != nullptr && top == border_->Handle()) return 0;
  return reinterpret_cast<uintptr_t>(top);
}

std::optional<Rect> WinRegionDesktop::WindowRect(uintptr_t window) {
  HWND w = reinterpret_cast<HWND>(window);
  RECT r;
  if (!IsWindow(w) || !IsWindowVisible(w) || !GetWindowRect(w, &r)) return std::nullopt;
  return Rect{r.left, r.top, r.right, r.bottom};
}

}  // namespace kmr
