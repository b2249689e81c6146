// Operating-system services used by the shared runtime. One implementation per
// target: win/ (Win32) and posix/ (Linux). Everything above this header is
// platform-free.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kmr::platform {

// Monotonic high-resolution counter and its frequency (ticks per second).
// Both return false when the counter cannot be read.
bool ReadPerformanceCounter(int64_t* ticks);
bool ReadPerformanceFrequency(int64_t* ticks_per_second);

// Full path of the running program; empty on failure.
std::string ModuleFileName();

// True when a file or directory can be opened for attribute access.
bool PathExists(const char* path);

// Creates one directory. Succeeds when it already exists.
bool MakeDirectory(const char* path);

// Copies a file, replacing an existing target; on failure *error (when
// given) says why in a sentence.
bool CopyFileReplacing(const char* from, const char* to, std::string* error = nullptr);

// A sentence for a C library error number, naming the usual causes plainly
// ("The folder does not exist.", "There is no space left on the disk.").
std::string ErrnoText(int error_number);

// The bytes the disk holding a file (or, where the file does not exist yet,
// its folder) can still take for this user; false when that is not known.
bool FreeDiskSpace(const std::string& path, uint64_t* bytes);

// Cuts an open file back to size bytes.
bool TruncateOpenFile(std::FILE* file, uint64_t size);

// 64-bit positions in an open file: a seek from its start, the position,
// and its size (found by a seek to the end, where the position is left).
// False or -1 on failure.
bool SeekFile(std::FILE* file, uint64_t offset);
int64_t TellFile(std::FILE* file);
int64_t OpenFileSize(std::FILE* file);

// Text for an attached debugger (OutputDebugStringA on Windows; nothing on Linux).
void DebuggerOutput(const char* text);

// The running system's version. platform_id is 2 for the NT family on Windows;
// Linux reports 0 (not the NT family).
struct OsVersion {
  uint32_t platform_id = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
};
OsVersion RunningOsVersion();

// The platform's path separator, and whether debug traces also go to
// standard output without being asked for (a Windows program's standard
// output is seen only by a debugging console; on Linux it is the user's
// terminal, so there traces need KMR_TRACE in the environment).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr bool kTraceToStandardOutput = true;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr bool kTraceToStandardOutput = false;
#endif

}  // namespace kmr::platform
