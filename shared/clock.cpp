#include "shared/clock.h"

#include <atomic>

#include "platform/system/system.h"

namespace kmr {

namespace {
// Read once and shared by all threads; concurrent first calls store the same value.
std::atomic<int64_t> g_frequency{0};
}  // namespace

int64_t ScaleTicks(int64_t ticks, int64_t units, int64_t frequency) {
  if (frequency <= 0) return 0;
  const long double v = static_cast<long double>(ticks) * static_cast<long double>(units) /
                        static_cast<long double>(frequency);
  return static_cast<int64_t>(v);  // conversion truncates toward zero
}

int64_t ClockMs(int64_t units) {
  int64_t frequency = g_frequency.load(std::memory_order_relaxed);
  if (frequency == 0) {
    if (!platform::ReadPerformanceFrequency(&frequency)) return 0;
    g_frequency.store(frequency, std::memory_order_relaxed);
  }
  int64_t ticks = 0;
  if (!platform::ReadPerformanceCounter(&ticks)) return 0;
  return ScaleTicks(ticks, units, frequency);
}

}  // namespace kmr
