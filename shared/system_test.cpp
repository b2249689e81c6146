#include <gtest/gtest.h>

#include <string>

#include "shared/os_version.h"
#include "shared/trace.h"

namespace kmr {
namespace {

TEST(OsVersion, ComparesMajorThenMinor) {
  const platform::OsVersion vista{kPlatformNt, 6, 0};
  EXPECT_EQ(CompareOsVersion(vista, kPlatformNt, 5, 1), 2);
  EXPECT_EQ(CompareOsVersion(vista, kPlatformNt, 6, 0), 1);
  EXPECT_EQ(CompareOsVersion(vista, kPlatformNt, 6, 1), 0);
  EXPECT_EQ(CompareOsVersion(vista, kPlatformNt, 7, 0), 0);
  const platform::OsVersion xp{kPlatformNt, 5, 1};
  EXPECT_EQ(CompareOsVersion(xp, kPlatformNt, 5, 0), 2);
  const platform::OsVersion win98{1, 4, 10};
  EXPECT_EQ(CompareOsVersion(win98, kPlatformNt, 4, 0), 0);
}

TEST(OsVersion, RunningSystem) {
#ifdef _WIN32
  EXPECT_TRUE(IsNt());
  EXPECT_TRUE(IsWindows2000OrLater());
  EXPECT_TRUE(IsWindowsXpOrLater());
#else
  EXPECT_FALSE(IsNt());
  EXPECT_FALSE(IsWindows2000OrLater());
#endif
}

size_t Format(char (&buf)[kTraceBufferSize], const char* format, ...) {
  va_list args;
  va_start(args, format);
  const size_t n = FormatTrace(buf, format, args);
  va_end(args);
  return n;
}

TEST(Trace, LongTextIsCutAt1023) {
  const std::string text(2000, 'x');
  char buf[kTraceBufferSize];
  EXPECT_EQ(Format(buf, "%s", text.c_str()), 1023u);
  EXPECT_EQ(buf[1023], '\0');
  EXPECT_EQ(Format(buf, "OnHotKeyPause()\n"), 16u);
  EXPECT_STREQ(buf, "OnHotKeyPause()\n");
}

TEST(Trace, WritesAndAppendsToTheLogFile) {
  const char* path = "trace_test.log";
  std::remove(path);
  EXPECT_EQ(Trace(path, "%s %d\n", "one", 1), 6u);
  Trace(path, "two\n");
  Trace("/nonexistent-dir/x/y.log", "skipped\n");
  FILE* f = std::fopen(path, "r");  // text mode: the log has CR LF on Windows
  ASSERT_NE(f, nullptr);
  char buf[64] = {};
  const size_t n = std::fread(buf, 1, sizeof(buf) - 1, f);
  std::fclose(f);
  std::remove(path);
  EXPECT_EQ(std::string(buf, n), "one 1\ntwo\n");
}

}  // namespace
}  // namespace kmr
