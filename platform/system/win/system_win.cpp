#include "platform/system/system.h"

#include <cstdint>

#include <io.h>
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

namespace {

std::string LastErrorText(DWORD code) {
  switch (code) {
    case ERROR_PATH_NOT_FOUND:
      return "The folder does not exist.";
    case ERROR_FILE_NOT_FOUND:
      return "The file does not exist.";
    case ERROR_ACCESS_DENIED:
      return "Permission denied.";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "There is no space left on the disk.";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "The file is in use by another program.";
    case ERROR_WRITE_PROTECT:
      return "The disk is write-protected.";
    default:
      break;
  }
  char text[512] = "";
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                 sizeof(text), nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  if (s.empty()) s = "System error " + std::to_string(code) + ".";
  return s;
}

}  // namespace

bool CopyFileReplacing(const char* from, const char* to, std::string* error) {
  if (CopyFileA(from, to, FALSE) != 0) return true;
  if (error != nullptr) *error = LastErrorText(GetLastError());
  return false;
}

bool FreeDiskSpace(const std::string& path, uint64_t* bytes) {
  // The folder: GetDiskFreeSpaceEx takes a directory, and this one also
  // answers for a file that is not there yet. Quotas are counted.
  const size_t slash = path.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return false;
  *bytes = available.QuadPart;
  return true;
}

bool TruncateOpenFile(std::FILE* file, uint64_t size) {
  // _chsize: the system's C library of Windows XP has no 64-bit form, and a
  // recording stays below 2 GB anyway.
  if (file == nullptr || size > 0x7FFFFFFFu) return false;
  return _chsize(_fileno(file), static_cast<long>(size)) == 0;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

int64_t TellFile(std::FILE* file) { return _ftelli64(file); }

int64_t OpenFileSize(std::FILE* file) { return _fseeki64(file, 0, SEEK_END) == 0 ? TellFile(file) : -1; }

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
