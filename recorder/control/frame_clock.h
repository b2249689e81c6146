// The frame clock of the video sources: time since the start with paused time
// left out, in unsigned 32-bit milliseconds.
#pragma once

#include <cstdint>

namespace kmr {

class FrameClock {
 public:
  void Start(uint32_t now) {
    last_ = now;
    total_ = 0;
    paused_ = 0;
  }
  // One step at now; resumed: the interval since the previous step contains a
  // pause and counts as paused. Returns the step's time stamp.
  uint32_t Advance(uint32_t now, bool resumed) {
    total_ += now - last_;
    if (resumed) paused_ += now - last_;
    last_ = now;
    return total_ - paused_;
  }
  // The time stamp a step at now would get, without taking the step.
  uint32_t Peek(uint32_t now) const { return total_ + (now - last_) - paused_; }
  uint32_t Total() const { return total_; }
  uint32_t Paused() const { return paused_; }

 private:
  uint32_t last_ = 0;
  uint32_t total_ = 0;
  uint32_t paused_ = 0;
};

// Milliseconds between frame starts: 1000 / fps, integer division.
inline uint32_t FramePeriodMs(uint32_t fps) { return fps == 0 ? 1000 : 1000 / fps; }

// How long from time stamp now until the next slot of the frame grid
// (n × 1000 / fps rounded).
inline uint32_t MsToNextGridSlot(uint32_t now, uint32_t fps) {
  if (fps == 0) fps = 1;
  auto slot = [fps](uint64_t n) { return (n * 1000 + fps / 2) / fps; };
  uint64_t next = static_cast<uint64_t>(now) * fps / 1000 + 1;
  while (slot(next) <= now) ++next;
  return static_cast<uint32_t>(slot(next) - now);
}

// Paces the frame steps on the frame grid, reckoned from the start, so that
// frames keep to the grid's rate rather than to whole-millisecond periods.
// Each step is armed for the first slot after both the present and the slot
// the step itself was armed for: a step that a timer woke a little early
// never takes its own slot twice.
class GridPacer {
 public:
  void Reset() {
    armed_index_ = 0;
    limit_ms_ = 0;
  }
  // The delay to arm the timer with, at time stamp now.
  uint32_t ArmFor(uint32_t now, uint32_t fps) {
    if (fps == 0) fps = 1;
    uint64_t index = static_cast<uint64_t>(now) * fps / 1000 + 1;
    while (Slot(index, fps) <= now) ++index;
    if (index <= armed_index_) index = armed_index_ + 1;
    armed_index_ = index;
    const uint32_t delay = static_cast<uint32_t>(Slot(index, fps) - now);
    limit_ms_ = delay + FramePeriodMs(fps);
    return delay;
  }
  // How long to wait for the armed timer at most: past its due time, so a
  // wait never ends before the timer does; the period before the first arming.
  uint32_t WaitLimit(uint32_t fps) const { return limit_ms_ != 0 ? limit_ms_ : FramePeriodMs(fps); }

 private:
  static uint64_t Slot(uint64_t n, uint32_t fps) { return (n * 1000 + fps / 2) / fps; }
  uint64_t armed_index_ = 0;
  uint32_t limit_ms_ = 0;
};

}  // namespace kmr
