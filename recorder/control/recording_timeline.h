// The recording's time line: time on the recording clock since the start,
// with the paused time left out. Frames and sound samples are both placed
// on it, so a pause cuts the picture and the sound at the same moment, and
// the sound is kept in step with the picture by its samples' capture times
// rather than by their count alone.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "platform/sync/sync.h"
#include "platform/timer/frame_timer.h"

namespace kmr {

class RecordingTimeline {
 public:
  // Clock times as milliseconds since the start (the clock's own 32-bit
  // milliseconds wrap; differences from the start do not, for 24 days).
  struct View {
    bool started = false;
    uint32_t start_clock_ms = 0;
    // Paused intervals [from, to) since the start, in order; the last one
    // ends at kOpen while the recording is paused.
    std::vector<std::pair<int64_t, int64_t>> pauses;
    static constexpr int64_t kOpen = std::numeric_limits<int64_t>::max();

    // Where a moment (ms since the start on the clock) lies on the time
    // line; false when it came before the start or within a pause.
    bool Place(double since_start_ms, double* at_ms) const;
  };

  explicit RecordingTimeline(platform::MsClock* clock = platform::SystemMsClock()) : clock_(clock) {}

  // Now is time 0; no pause.
  void Start();
  // Both may be called again without effect.
  void Pause();
  void Resume();

  // Time on the time line now (while paused: where the pause began); 0
  // before the start.
  uint32_t NowMs() const;
  // The clock's own time, and the same as milliseconds since the start.
  uint32_t ClockMs() const { return clock_->NowMs(); }
  int64_t SinceStartMs(uint32_t clock_ms) const;
  View Snapshot() const;

 private:
  platform::MsClock* clock_;
  mutable platform::Mutex mu_;
  View view_;
};

}  // namespace kmr
