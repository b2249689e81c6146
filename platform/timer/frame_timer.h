// The frame timer: armed once per frame for a relative time, waited on with a
// limit. Manual reset: once due it stays signalled until armed again. Windows
// uses a waitable timer, Linux the monotonic clock.
#pragma once

#include <cstdint>
#include <memory>

namespace kmr::platform {

class FrameTimer {
 public:
  virtual ~FrameTimer() = default;
  // Waits until the timer is due, at most max_ms. True when it came due.
  virtual bool Wait(uint32_t max_ms) = 0;
  // Due ms from now; the signal is cleared until then.
  virtual bool ArmRelative(uint32_t ms) = 0;
  // Back to the state it was created in: never armed, not signalled (a new
  // recording's first step waits its full period again).
  virtual bool Reset() = 0;
};

// The platform's timer; null when it cannot be created.
std::unique_ptr<FrameTimer> CreateFrameTimer();

// Milliseconds for frame and presentation clocks (ClockMs(1000) in the
// program); tests put a clock of their own in its place.
class MsClock {
 public:
  virtual ~MsClock() = default;
  virtual uint32_t NowMs() = 0;
};

MsClock* SystemMsClock();

}  // namespace kmr::platform
