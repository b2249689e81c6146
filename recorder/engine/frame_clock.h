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
// (n × 1000 / fps rounded): the frame sources arm their timer for that, so
// frames keep to the grid's rate rather than to whole-millisecond periods.
inline uint32_t MsToNextGridSlot(uint32_t now, uint32_t fps) {
  if (fps == 0) fps = 1;
  auto slot = [fps](uint64_t n) { return (n * 1000 + fps / 2) / fps; };
  uint64_t next = static_cast<uint64_t>(now) * fps / 1000 + 1;
  while (slot(next) <= now) ++next;
  return static_cast<uint32_t>(slot(next) - now);
}

}  // namespace kmr
