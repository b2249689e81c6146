#include "platform/system/system.h"

#include <cstdint>

#include <errno.h>

#include <fcntl.h>

#include <filesystem>
#include <vector>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

bool FreeDiskSpace(const std::string& path, uint64_t* bytes) {
  struct statvfs st{};
  if (statvfs(path.c_str(), &st) != 0) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (statvfs(folder.empty() ? "." : folder.c_str(), &st) != 0) return false;
  }
  *bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  return true;
}

bool MakeDirectory(const char* path) {
  if (mkdir(path, 0777) == 0) return true;
  return errno == EEXIST;
}

bool CopyFileReplacing(const char* from, const char* to, std::string* error) {
  // A plain read and write loop: every write is checked, and a full disk or
  // a device that takes nothing says so.
  auto fail = [&](int e) {
    if (error != nullptr) *error = ErrnoText(e != 0 ? e : EIO);
    return false;
  };
  const int in = ::open(from, O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(errno);
  struct stat st {};
  if (::fstat(in, &st) != 0) {
    const int e = errno;
    ::close(in);
    return fail(e);
  }
  // Keep the source's permissions: a copy of the player stays executable.
  const int out = ::open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return fail(e);
  }
  int e = 0;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      e = errno;
      break;
    }
    for (ssize_t done = 0; done < n && e == 0;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) e = w < 0 ? errno : ENOSPC;
      if (w > 0) done += w;
    }
    if (e != 0) break;
  }
  ::close(in);
  if (e == 0) ::fchmod(out, st.st_mode & 07777);
  if (::close(out) != 0 && e == 0) e = errno;
  if (e != 0) return fail(e);
  return true;
}

bool TruncateOpenFile(std::FILE* file, uint64_t size) {
  return file != nullptr && ::ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool SeekFile(std::FILE* file, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t TellFile(std::FILE* file) { return ftello(file); }

int64_t OpenFileSize(std::FILE* file) { return fseeko(file, 0, SEEK_END) == 0 ? TellFile(file) : -1; }

void DebuggerOutput(const char*) {}

OsVersion RunningOsVersion() { return OsVersion{}; }

}  // namespace kmr::platform
