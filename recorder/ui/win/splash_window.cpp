#include "recorder/ui/win/splash_window.h"

#include <shellapi.h>

#include <vector>

#include "platform/system/system.h"

namespace kmr::win {

namespace {

constexpr int kWidth = 400, kHeight = 200;
constexpr int kLinkTop = 150, kLinkBottom = 170;
constexpr UINT_PTR kCloseTimer = 1;
HWND g_current = nullptr;

}  // namespace

std::string OwnVersionText(const char* name) {
  const std::string path = platform::ModuleFileName();
  DWORD ignored = 0;
  const DWORD size = path.empty() ? 0 : GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return {};
  struct Translation {
    WORD language, code_page;
  }* translations = nullptr;
  UINT bytes = 0;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &bytes) ||
      bytes < sizeof(Translation)) {
    return {};
  }
  char query[96];
  wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translations[0].language, translations[0].code_page, name);
  char* value = nullptr;
  if (!VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&value), &bytes) || value == nullptr) return {};
  return value;
}

HWND SplashWindow::Current() { return g_current; }

bool SplashWindow::Register(HINSTANCE instance) {
  WNDCLASSA wc{};
  if (GetClassInfoA(instance, kClassName, &wc)) return true;
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kClassName;
  return RegisterClassA(&wc) != 0;
}

HWND SplashWindow::Create(HINSTANCE instance, HWND owner, bool splash) {
  if (g_current != nullptr || !Register(instance)) return nullptr;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  const DWORD ex = splash ? WS_EX_TOPMOST | WS_EX_TOOLWINDOW : WS_EX_DLGMODALFRAME;
  HWND hwnd = CreateWindowExA(ex, kClassName, splash ? "" : "About", WS_POPUP | WS_BORDER, x, y, kWidth, kHeight,
                              owner, nullptr, instance, nullptr);
  if (hwnd == nullptr) return nullptr;
  g_current = hwnd;
  if (splash) SetTimer(hwnd, kCloseTimer, kSplashMs, nullptr);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  return hwnd;
}

void SplashWindow::ShowSplash(HINSTANCE instance) { Create(instance, nullptr, true); }

void SplashWindow::ShowAbout(HINSTANCE instance, HWND owner) {
  if (g_current != nullptr) DestroyWindow(g_current);
  if (owner != nullptr) EnableWindow(owner, FALSE);
  HWND hwnd = Create(instance, owner, false);
  MSG msg;
  while (hwnd != nullptr && IsWindow(hwnd) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (owner != nullptr) {
    EnableWindow(owner, TRUE);
    SetForegroundWindow(owner);
  }
}

LRESULT CALLBACK SplashWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT band{0, 0, kWidth, 60};
      HBRUSH blue = CreateSolidBrush(RGB(40, 70, 140));
      FillRect(dc, &band, blue);
      DeleteObject(blue);
      SetBkMode(dc, TRANSPARENT);
      std::string name = OwnVersionText("ProductName");
      if (name.empty()) name = "Kelvo";
      const std::string lines[] = {name, "Version " + OwnVersionText("ProductVersion"),
                                   OwnVersionText("LegalCopyright"), kHomePage};
      const int tops[] = {20, 80, 105, kLinkTop};
      for (int i = 0; i < 4; ++i) {
        SetTextColor(dc, i == 0 ? RGB(255, 255, 255) : i == 3 ? RGB(0, 0, 200) : RGB(0, 0, 0));
        RECT r{20, tops[i], kWidth - 20, tops[i] + 20};
        DrawTextA(dc, lines[i].c_str(), -1, &r, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_LBUTTONUP: {
      const int y = static_cast<short>(HIWORD(lp));
      if (y >= kLinkTop && y < kLinkBottom) {
        ShellExecuteA(hwnd, "open", kHomePage, nullptr, nullptr, SW_SHOWNORMAL);
      } else {
        DestroyWindow(hwnd);
      }
      return 0;
    }
    case WM_TIMER:
      if (wp == kCloseTimer) DestroyWindow(hwnd);
      return 0;
    case WM_KEYDOWN:
      if (wp == VK_ESCAPE || wp == VK_RETURN) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      if (g_current == hwnd) g_current = nullptr;
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wp, lp);
  }
}

}  // namespace kmr::win
