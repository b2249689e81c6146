#include "installer/win/win_installer_system.h"

#include <initguid.h>
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstring>
#include <vector>

namespace kmr {

namespace {

// The full DISPLAY_DEVICEA: the installer lists devices with it.
constexpr DWORD kDisplayDeviceSize = 424;

struct DeviceList {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  ~DeviceList() {
    if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
  }
};

}  // namespace

bool WinInstallerSystem::IsWindows2000OrLater() {
  OSVERSIONINFOEXA ex{};
  ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);  // 156
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex))) {
    ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);  // 148
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&ex))) return false;
  }
  return ex.dwPlatformId == VER_PLATFORM_WIN32_NT && ex.dwMajorVersion > 4;
}

bool WinInstallerSystem::IsAdministrator() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  bool member = false;
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && size > 0) {
    std::vector<BYTE> buffer(size);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (GetTokenInformation(token, TokenGroups, buffer.data(), size, &size) &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                 &admins)) {
      const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
      std::vector<TokenGroup> entries;
      for (DWORD i = 0; i < groups->GroupCount; ++i) {
        entries.push_back({EqualSid(groups->Groups[i].Sid, admins) != FALSE, groups->Groups[i].Attributes});
      }
      member = HoldsAdministrators(entries);
      FreeSid(admins);
    }
  }
  CloseHandle(token);
  return member;
}

std::string WinInstallerSystem::ProgramDirectory() {
  char path[MAX_PATH] = "";
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n < MAX_PATH ? n : 0);
  const size_t slash = s.rfind('\\');
  return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

std::string WinInstallerSystem::SystemDirectory() {
  char path[MAX_PATH] = "";
  const UINT n = GetSystemDirectoryA(path, MAX_PATH);
  std::string s(path, n < MAX_PATH ? n : 0);
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

bool WinInstallerSystem::FilesEqual(const std::string& a, const std::string& b) {
  HANDLE fa = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE fb = CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  bool equal = false;
  if (fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE) {
    LARGE_INTEGER sa{}, sb{};
    if (GetFileSizeEx(fa, &sa) && GetFileSizeEx(fb, &sb) && sa.QuadPart == sb.QuadPart) {
      if (sa.QuadPart == 0) {
        equal = true;  // two empty files: nothing to map
      } else {
        HANDLE ma = CreateFileMappingA(fa, nullptr, PAGE_READONLY, 0, 0, nullptr);
        HANDLE mb = CreateFileMappingA(fb, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* va = ma != nullptr ? MapViewOfFile(ma, FILE_MAP_READ, 0, 0, 0) : nullptr;
        const void* vb = mb != nullptr ? MapViewOfFile(mb, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (va != nullptr && vb != nullptr) equal = std::memcmp(va, vb, static_cast<size_t>(sa.QuadPart)) == 0;
        if (va != nullptr) UnmapViewOfFile(va);
        if (vb != nullptr) UnmapViewOfFile(vb);
        if (ma != nullptr) CloseHandle(ma);
        if (mb != nullptr) CloseHandle(mb);
      }
    }
  }
  if (fa != INVALID_HANDLE_VALUE) CloseHandle(fa);
  if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
  return equal;
}

InstallerSystem::Found WinInstallerSystem::FindDevices(const std::string& hardware_id, bool remove) {
  DeviceList list;
  list.set = SetupDiGetClassDevsA(&GUID_DEVCLASS_DISPLAY, nullptr, nullptr, DIGCF_PRESENT);
  if (list.set == INVALID_HANDLE_VALUE) return Found::kNone;
  bool matched = false, refused = false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  for (DWORD i = 0; SetupDiEnumDeviceInfo(list.set, i, &device); ++i) {
    std::vector<char> ids(256);
    DWORD needed = 0;
    bool read = false;
    for (;;) {
      if (SetupDiGetDeviceRegistryPropertyA(list.set, &device, SPDRP_HARDWAREID, nullptr,
                                            reinterpret_cast<BYTE*>(ids.data()), static_cast<DWORD>(ids.size()) - 2,
                                            &needed)) {
        read = true;
        break;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed + 2 <= ids.size()) break;
      ids.assign(needed + 2, 0);
    }
    if (!read) continue;  // no hardware ID (ERROR_INVALID_DATA): skipped
    for (const char* p = ids.data(); *p != '\0' && p < ids.data() + ids.size(); p += std::strlen(p) + 1) {
      if (hardware_id == p) {
        matched = true;
        if (remove && !SetupDiCallClassInstaller(DIF_REMOVE, list.set, &device)) refused = true;
        break;
      }
    }
  }
  if (!matched) return Found::kNone;
  return refused ? Found::kRemovalFailed : Found::kFound;
}

bool WinInstallerSystem::UpdateDriver(const std::string& hardware_id, const std::string& inf, bool* reboot) {
  BOOL asked = FALSE;
  const BOOL ok = UpdateDriverForPlugAndPlayDevicesA(nullptr, hardware_id.c_str(), inf.c_str(), INSTALLFLAG_FORCE,
                                                     &asked);
  *reboot = asked != FALSE;
  return ok != FALSE;
}

bool WinInstallerSystem::CreateAndInstallDevice(const std::string& hardware_id, const std::string& inf, bool* reboot) {
  GUID guid;
  char class_name[32 + 1] = "";
  if (!SetupDiGetINFClassA(inf.c_str(), &guid, class_name, sizeof(class_name), nullptr)) return false;
  DeviceList list;
  list.set = SetupDiCreateDeviceInfoList(&guid, nullptr);
  if (list.set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  if (!SetupDiCreateDeviceInfoA(list.set, class_name, &guid, nullptr, nullptr, DICD_GENERATE_ID, &device)) return false;
  // A one-entry list: the ID, its zero and one more.
  std::vector<BYTE> ids(hardware_id.begin(), hardware_id.end());
  ids.push_back(0);
  ids.push_back(0);
  if (!SetupDiSetDeviceRegistryPropertyA(list.set, &device, SPDRP_HARDWAREID, ids.data(),
                                         static_cast<DWORD>(ids.size())) ||
      !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.set, &device)) {
    return false;
  }
  if (!UpdateDriver(hardware_id, inf, reboot)) {
    SetupDiCallClassInstaller(DIF_REMOVE, list.set, &device);
    return false;
  }
  return true;
}

bool WinInstallerSystem::Attach(const std::string& service, const std::string& description, bool attach) {
  if (!attach) {
    if (attachment_ != nullptr) attachment_->Detach();
    return true;
  }
  attachment_.reset();
  attach_steps_ = std::make_unique<platform::WinDisplayAttachSteps>(service, description, kDisplayDeviceSize);
  attachment_ = std::make_unique<platform::DriverAttachment>(attach_steps_.get());
  std::string error;
  return attachment_->Attach(&error);  // a failure undoes the value it wrote
}

DWORD WINAPI WinInstallerSystem::Watchdog(LPVOID self) {
  auto* s = static_cast<WinInstallerSystem*>(self);
  if (WaitForSingleObject(s->event_, s->watchdog_ms_) == WAIT_TIMEOUT) ExitProcess(static_cast<UINT>(s->watchdog_code_));
  return 0;
}

void WinInstallerSystem::StartWatchdog(uint32_t ms, int exit_code) {
  StopWatchdog();
  watchdog_ms_ = ms;
  watchdog_code_ = exit_code;
  event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event_ != nullptr) thread_ = CreateThread(nullptr, 0, Watchdog, this, 0, nullptr);
}

void WinInstallerSystem::StopWatchdog() {
  if (event_ != nullptr) SetEvent(event_);
  if (thread_ != nullptr) {
    if (WaitForSingleObject(thread_, 20000) == WAIT_TIMEOUT) TerminateThread(thread_, 0);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (event_ != nullptr) {
    CloseHandle(event_);
    event_ = nullptr;
  }
}

bool WinInstallerSystem::Show(Box box, const std::string& caption, const std::string& text) {
  switch (box) {
    case Box::kError:
      MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK | MB_ICONERROR);
      return false;
    case Box::kInformation:
      MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
      return false;
    case Box::kRebootQuestion:
      return MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONWARNING) == IDYES;
  }
  return false;
}

void WinInstallerSystem::Reboot() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES p{};
  p.PrivilegeCount = 1;
  if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &p.Privileges[0].Luid)) {
    p.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr);
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) {
      p.Privileges[0].Attributes = 0;  // back as it was
      AdjustTokenPrivileges(token, FALSE, &p, 0, nullptr, nullptr);
    }
  }
  CloseHandle(token);
}

}  // namespace kmr
