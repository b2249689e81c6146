#include "shared/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kmr {
namespace {

TEST(ClockMs, ScaleTruncatesTowardZero) {
  EXPECT_EQ(ScaleTicks(1999, 1000, 1000000), 1);
  EXPECT_EQ(ScaleTicks(-1999, 1000, 1000000), -1);
  EXPECT_EQ(ScaleTicks(3, 1000, 3), 1000);
  EXPECT_EQ(ScaleTicks(1, 1000, 0), 0);
  // Large counters do not overflow the intermediate product.
  EXPECT_EQ(ScaleTicks(int64_t{1} << 60, 1000, int64_t{1} << 30), int64_t{1000} << 30);
}

TEST(ClockMs, IsMonotonicAndRoughlyMilliseconds) {
  const int64_t a = ClockMs(1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const int64_t b = ClockMs(1000);
  EXPECT_GE(b - a, 100);
  // Differences are taken in 32-bit arithmetic by callers.
  EXPECT_EQ(static_cast<uint32_t>(b) - static_cast<uint32_t>(a), static_cast<uint32_t>(b - a));
  EXPECT_GE(ClockMs(1000000), b * 1000);
}

}  // namespace
}  // namespace kmr
