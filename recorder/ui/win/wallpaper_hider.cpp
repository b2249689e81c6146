#include "recorder/ui/win/wallpaper_hider.h"

#include <windows.h>
// The active desktop's interface is declared only after the internet header.
#include <wininet.h>
#include <shlobj.h>
#include <shlguid.h>
#include <shlwapi.h>

namespace kmr::win {

namespace {

constexpr UINT kStoreAndBroadcast = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;
constexpr char kPlainPattern[] = "0 0 0 0 0 0 0 0";

bool ActiveDesktopOn() {
  SHELLFLAGSTATE state{};
  SHGetSettings(&state, SSF_DESKTOPHTML);
  return state.fDesktopHTML != 0;
}

// Switches the active desktop's components and the active desktop itself.
void SwitchActiveDesktop(bool on) {
  const HRESULT init = CoInitialize(nullptr);
  IActiveDesktop* desktop = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ActiveDesktop, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveDesktop,
                                 reinterpret_cast<void**>(&desktop))) &&
      desktop != nullptr) {
    COMPONENTSOPT options{};
    options.dwSize = sizeof(options);
    options.fEnableComponents = on ? TRUE : FALSE;
    options.fActiveDesktop = on ? TRUE : FALSE;
    if (SUCCEEDED(desktop->SetDesktopItemOptions(&options, 0))) desktop->ApplyChanges(AD_APPLY_REFRESH);
    desktop->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
}

}  // namespace

bool ShellHasActiveDesktop() {
  HMODULE shell = LoadLibraryA("shell32.dll");
  if (shell == nullptr) return false;
  bool newer = false;
  auto get_version = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(shell, "DllGetVersion")));
  DLLVERSIONINFO info{};
  info.cbSize = sizeof(info);
  if (get_version != nullptr && SUCCEEDED(get_version(&info))) {
    newer = info.dwMajorVersion * 65536 + info.dwMinorVersion > 262214;
  }
  FreeLibrary(shell);
  return newer;
}

void WallpaperHider::Hide() {
  if (hidden_) return;
  hidden_ = true;
  char pattern[41] = "";
  GetProfileStringA("Desktop", "Pattern", "", pattern, sizeof(pattern));
  if (pattern[0] != '\0') {
    pattern_ = pattern;
    SystemParametersInfoA(SPI_SETDESKPATTERN, 0, const_cast<char*>(kPlainPattern), kStoreAndBroadcast);
  } else {
    pattern_.clear();
  }
  char wallpaper[260] = "";
  SystemParametersInfoA(SPI_GETDESKWALLPAPER, 259, wallpaper, 0);
  char empty[1] = "";
  if (wallpaper[0] != '\0') {
    wallpaper_ = wallpaper;
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, empty, kStoreAndBroadcast);
  } else {
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, empty, SPIF_SENDCHANGE);
    wallpaper_.clear();
  }
  if (ShellHasActiveDesktop() && ActiveDesktopOn()) {
    SwitchActiveDesktop(false);
    active_desktop_off_ = true;
  }
}

void WallpaperHider::Restore() {
  if (!hidden_) return;
  hidden_ = false;
  if (active_desktop_off_ && ShellHasActiveDesktop()) SwitchActiveDesktop(true);
  active_desktop_off_ = false;
  if (!wallpaper_.empty()) {
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, wallpaper_.data(), kStoreAndBroadcast);
    wallpaper_.clear();
  } else {
    char empty[1] = "";
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, empty, SPIF_SENDCHANGE);
  }
  if (!pattern_.empty()) {
    SystemParametersInfoA(SPI_SETDESKPATTERN, 0, pattern_.data(), kStoreAndBroadcast);
    pattern_.clear();
  }
}

}  // namespace kmr::win
