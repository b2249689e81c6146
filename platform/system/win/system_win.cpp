#include "platform/system/system.h"

#include <windows.h>

namespace kmr::platform {

bool ReadPerformanceCounter(int64_t* ticks) {
  LARGE_INTEGER v;
  if (!QueryPerformanceCounter(&v)) return false;
  *ticks = v.QuadPart;
  return true;
}

bool ReadPerformanceFrequency(int64_t* ticks_per_second) {
  LARGE_INTEGER v;
  if (!QueryPerformanceFrequency(&v) || v.QuadPart <= 0) return false;
  *ticks_per_second = v.QuadPart;
  return true;
}

std::string ModuleFileName() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  return std::string(buf, n);
}

bool PathExists(const char* path) {
  if (path == nullptr) return false;
  HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool MakeDirectory(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CopyFileReplacing(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != 0; }

void DebuggerOutput(const char* text) { OutputDebugStringA(text); }

OsVersion RunningOsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return OsVersion{};
#pragma GCC diagnostic pop
  return OsVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace kmr::platform
