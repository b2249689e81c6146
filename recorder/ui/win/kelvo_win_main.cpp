// kelvo.exe: the Windows recorder. The program start: the title from the
// version information, the system check, one copy at a time, the own folder
// as the current directory, then the main window and its messages.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

#include "shared/os_version.h"
#include "recorder/ui/pages/page_rules.h"
#include "recorder/ui/settings/win/registry_settings_store.h"
#include "recorder/ui/win/main_sheet.h"
#include "recorder/ui/win/splash_window.h"
#include "recorder/ui/win/win_ui.h"

namespace {

constexpr const char* kMutexName = "_Kelvo_Mutex_";

std::string TitleFromVersion() {
  const std::string name = kmr::win::OwnVersionText("ProductName");
  const std::string version = kmr::win::OwnVersionText("ProductVersion");
  if (name.empty()) return "Kelvo";
  return version.empty() ? name : name + " " + version;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kmr::win::SetProgramTitle(TitleFromVersion());
  const std::string& title = kmr::win::ProgramTitle();
  if (!kmr::IsWindows2000OrLater()) {
    kmr::win::Say(nullptr, kmr::page_texts::kOldWindows, MB_OK | MB_ICONERROR);
    return 1;
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
  if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    if (HWND first = FindWindowA(nullptr, title.c_str())) {
      ShowWindow(first, SW_SHOWNORMAL);
      SetForegroundWindow(first);
    } else {
      kmr::win::Say(nullptr, kmr::page_texts::kSecondInstance, MB_OK | MB_ICONERROR);
    }
    return 0;
  }
  const std::string dir = kmr::win::OwnFolder();
  if (dir.empty() || !SetCurrentDirectoryA(dir.c_str())) return 1;

  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  const HRESULT ole = OleInitialize(nullptr);
  int rc = 1;
  {
    kmr::RegistrySettingsStore store;
    kmr::win::MainSheet sheet(instance, &store);
    if (sheet.Create()) rc = sheet.Run();
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  if (mutex != nullptr) CloseHandle(mutex);
  return rc;
}
