#include "platform/system/system.h"

#include <errno.h>

#include <filesystem>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace kmr::platform {

bool ReadPerformanceCounter(int64_t* ticks) {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
  *ticks = static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return true;
}

bool ReadPerformanceFrequency(int64_t* ticks_per_second) {
  *ticks_per_second = 1000000000LL;
  return true;
}

std::string ModuleFileName() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

bool PathExists(const char* path) {
  struct stat st{};
  return path != nullptr && stat(path, &st) == 0;
}

bool MakeDirectory(const char* path) {
  if (mkdir(path, 0777) == 0) return true;
  return errno == EEXIST;
}

bool CopyFileReplacing(const char* from, const char* to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  if (ec) return false;
  // Keep the source's permissions: a copy of the player stays executable.
  std::filesystem::permissions(to, std::filesystem::status(from, ec).permissions(), ec);
  return true;
}

void DebuggerOutput(const char*) {}

OsVersion RunningOsVersion() { return OsVersion{}; }

}  // namespace kmr::platform
