#include "platform/mirror/win/display_attach_win.h"

#include <aclapi.h>

#include <cctype>
#include <cstring>

namespace kmr::platform {

namespace {

using EnumDisplayDevicesFn = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
using ChangeDisplaySettingsExFn = LONG(WINAPI*)(LPCSTR, LPDEVMODEA, HWND, DWORD, LPVOID);

struct User32 {
  EnumDisplayDevicesFn enum_devices = nullptr;
  ChangeDisplaySettingsExFn change_settings = nullptr;
  User32() {
    HMODULE user = LoadLibraryA("USER32");
    if (user == nullptr) return;
    enum_devices = reinterpret_cast<EnumDisplayDevicesFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "EnumDisplayDevicesA")));
    change_settings = reinterpret_cast<ChangeDisplaySettingsExFn>(
        reinterpret_cast<void*>(GetProcAddress(user, "ChangeDisplaySettingsExA")));
  }
};

bool FindDisplayDevice(const User32& u, const std::string& device_string, DWORD size, DISPLAY_DEVICEA* out) {
  if (u.enum_devices == nullptr) return false;
  for (DWORD i = 0;; ++i) {
    DISPLAY_DEVICEA d{};
    d.cb = size;
    if (!u.enum_devices(nullptr, i, &d, 0)) return false;
    if (std::strcmp(d.DeviceString, device_string.c_str()) == 0) {
      *out = d;
      return true;
    }
  }
}

// Everyone gets full access to the attach keys, so the recorder can write them.
struct EveryoneSecurity {
  PSID sid = nullptr;
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  SECURITY_ATTRIBUTES sa{};
  bool ok = false;
  EveryoneSecurity() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) return;
    EXPLICIT_ACCESSA ea{};
    ea.grfAccessPermissions = KEY_ALL_ACCESS;
    ea.grfAccessMode = SET_ACCESS;
    ea.grfInheritance = NO_INHERITANCE;
    ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    ea.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    ea.Trustee.ptstrName = static_cast<LPSTR>(sid);
    if (SetEntriesInAclA(1, &ea, nullptr, &acl) != ERROR_SUCCESS) return;
    sd = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
    if (sd == nullptr || !InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(sd, TRUE, acl, FALSE)) {
      return;
    }
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = sd;
    sa.bInheritHandle = FALSE;
    ok = true;
  }
  ~EveryoneSecurity() {
    if (sd) LocalFree(sd);
    if (acl) LocalFree(acl);
    if (sid) FreeSid(sid);
  }
};

}  // namespace

WinDisplayAttachSteps::WinDisplayAttachSteps(std::string service, std::string device_string, DWORD device_info_size)
    : service_(std::move(service)), device_string_(std::move(device_string)), device_info_size_(device_info_size) {}

bool WinDisplayAttachSteps::DeviceExists(const std::string& device_string) {
  User32 u;
  DISPLAY_DEVICEA d;
  return FindDisplayDevice(u, device_string, 168, &d);
}

bool WinDisplayAttachSteps::FindDevice(std::string* device_name) {
  User32 u;
  DISPLAY_DEVICEA device;
  if (!FindDisplayDevice(u, device_string_, device_info_size_, &device)) return false;
  *device_name = device.DeviceName;
  return true;
}

bool WinDisplayAttachSteps::WriteAttachValue(const std::string& device_name, bool attach) {
  std::string upper = device_name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const size_t at = upper.find("\\DEVICE");
  const std::string subkey = at == std::string::npos ? "DEVICE0" : upper.substr(at + 1);
  EveryoneSecurity security;
  if (!security.ok) return false;
  const std::string path =
      "SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\System\\CurrentControlSet\\Services\\" + service_;
  HKEY service_key = nullptr, device_key = nullptr;
  DWORD disposition = 0;
  bool written = false;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, const_cast<LPSTR>(""), 0, KEY_ALL_ACCESS, &security.sa,
                      &service_key, &disposition) == ERROR_SUCCESS) {
    RegSetKeySecurity(service_key, DACL_SECURITY_INFORMATION, security.sd);
    if (RegCreateKeyExA(service_key, subkey.c_str(), 0, const_cast<LPSTR>(""), 0, KEY_ALL_ACCESS, &security.sa,
                        &device_key, &disposition) == ERROR_SUCCESS) {
      RegSetKeySecurity(device_key, DACL_SECURITY_INFORMATION, security.sd);
      const DWORD value = attach ? 1 : 0;
      written = RegSetValueExA(device_key, "Attach.ToDesktop", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof(value)) == ERROR_SUCCESS;
      RegCloseKey(device_key);
    }
    RegCloseKey(service_key);
  }
  return written;
}

bool WinDisplayAttachSteps::ReadMode(DisplayMode* out) {
  DEVMODEA mode{};
  mode.dmSize = 156;
  mode.dmDriverExtra = 0;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) return false;
  out->width = mode.dmPelsWidth;
  out->height = mode.dmPelsHeight;
  out->bits_per_pixel = mode.dmBitsPerPel;
  return true;
}

bool WinDisplayAttachSteps::ApplySettings(const std::string& device_name, const DisplayMode& current) {
  const User32 u;
  if (u.change_settings == nullptr) return false;
  DEVMODEA mode{};
  mode.dmSize = 156;
  mode.dmDriverExtra = 0;
  mode.dmPelsWidth = current.width;
  mode.dmPelsHeight = current.height;
  mode.dmBitsPerPel = current.bits_per_pixel;
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  std::strncpy(reinterpret_cast<char*>(mode.dmDeviceName), service_.c_str(), sizeof(mode.dmDeviceName) - 1);
  HDESK saved = GetThreadDesktop(GetCurrentThreadId());
  HDESK input = nullptr;
  if (saved != nullptr) {
    input = OpenInputDesktop(0, FALSE, MAXIMUM_ALLOWED);
    if (input != nullptr) SetThreadDesktop(input);
  }
  const bool changed =
      u.change_settings(device_name.c_str(), &mode, nullptr, CDS_UPDATEREGISTRY | CDS_NORESET, nullptr) ==
          DISP_CHANGE_SUCCESSFUL &&
      u.change_settings(nullptr, nullptr, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL;
  if (saved != nullptr) SetThreadDesktop(saved);
  if (input != nullptr) CloseDesktop(input);
  return changed;
}

}  // namespace kmr::platform
