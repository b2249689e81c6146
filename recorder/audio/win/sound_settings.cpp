#include "recorder/audio/win/sound_settings.h"

#include <vector>


namespace kmr {

namespace {

constexpr DWORD kRecordBytes = 132;
constexpr DWORD kMaxLineStates = 3960;

int ResetIn(HKEY key) {
  int rewritten = 0;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD name_size = sizeof(name), type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &name_size, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
    if (type != REG_BINARY || lstrcmpiA(name, "LineStates") != 0 || size == 0 || size > kMaxLineStates) continue;
    std::vector<BYTE> data(size);
    if (RegQueryValueExA(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) continue;
    for (DWORD at = 0; at < size; at += kRecordBytes) data[at] = 0;
    if (RegSetValueExA(key, name, 0, REG_BINARY, data.data(), size) == ERROR_SUCCESS) ++rewritten;
  }
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof(name);
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) continue;
    rewritten += ResetIn(sub);
    RegCloseKey(sub);
  }
  return rewritten;
}

bool Start(const std::string& program, const std::string& arguments) {
  // A blank and the arguments; the program is given apart.
  std::string command = " " + arguments;
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

int ResetLineStates(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
  const int n = ResetIn(key);
  RegCloseKey(key);
  return n;
}

std::string DeviceSettingsArguments(const platform::OsVersion& v) {
  const bool nt = v.platform_id == 2;
  const bool xp = nt && (v.major > 5 || (v.major == 5 && v.minor >= 1));
  const bool w2k = nt && v.major == 5 && v.minor == 0;
  if (xp) return "shell32.dll,Control_RunDLL mmsys.cpl,,2";
  if (w2k) return "shell32.dll,Control_RunDLL mmsys.cpl,,1";
  return "shell32.dll,Control_RunDLL mmsys.cpl";
}

std::string SystemProgram(const char* name) {
  char dir[MAX_PATH] = {};
  const bool nt = platform::RunningOsVersion().platform_id == 2;
  const UINT n = nt ? GetSystemDirectoryA(dir, MAX_PATH) : GetWindowsDirectoryA(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return name;
  return std::string(dir) + "\\" + name;
}

bool OpenDeviceSettings() {
  ResetLineStates();
  return Start(SystemProgram("rundll32.exe"), DeviceSettingsArguments(platform::RunningOsVersion()));
}

bool OpenInputSettings() {
  ResetLineStates();
  return Start(SystemProgram("sndvol32.exe"), "/r");
}

}  // namespace kmr
