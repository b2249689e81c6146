#include "shared/os_version.h"

namespace kmr {

int CompareOsVersion(const platform::OsVersion& running, uint32_t platform_id, uint32_t major,
                     uint32_t minor) {
  if (running.platform_id != platform_id) return 0;
  if (running.major != major) return running.major > major ? 2 : 0;
  if (running.minor != minor) return running.minor > minor ? 2 : 0;
  return 1;
}

int VersionCompare(uint32_t platform_id, uint32_t major, uint32_t minor) {
  return CompareOsVersion(platform::RunningOsVersion(), platform_id, major, minor);
}

bool IsNt() { return platform::RunningOsVersion().platform_id == kPlatformNt; }
bool IsWindows2000OrLater() { return VersionCompare(kPlatformNt, 5, 0) != 0; }
bool IsWindowsXpOrLater() { return VersionCompare(kPlatformNt, 5, 1) != 0; }

}  // namespace kmr
