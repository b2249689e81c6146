// Operating-system version tests.
#pragma once

#include <cstdint>

#include "platform/system/system.h"

namespace kmr {

inline constexpr uint32_t kPlatformNt = 2;  // VER_PLATFORM_WIN32_NT

// 0 when the platform id differs or the running version is older than
// (major, minor); 1 when it is exactly that version; 2 when it is newer.
int CompareOsVersion(const platform::OsVersion& running, uint32_t platform_id, uint32_t major,
                     uint32_t minor);

// The same against the running system.
int VersionCompare(uint32_t platform_id, uint32_t major, uint32_t minor);
bool IsNt();
bool IsWindows2000OrLater();
bool IsWindowsXpOrLater();

}  // namespace kmr
