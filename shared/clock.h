// The high-resolution clock behind all frame and presentation timing.
#pragma once

#include <cstdint>

namespace kmr {

// Counter ticks × units / frequency, truncated toward zero; ClockMs(1000) is
// milliseconds. Returns 0 when the counter cannot be read. Callers keep the low
// 32 bits and take differences in 32-bit arithmetic.
int64_t ClockMs(int64_t units);

// The same arithmetic on given values, for callers that hold a counter reading.
int64_t ScaleTicks(int64_t ticks, int64_t units, int64_t frequency);

}  // namespace kmr
