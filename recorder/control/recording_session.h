// One recording as a program runs it: starts it through the controller,
// then, turn by turn of the program's loop, carries out stop and pause
// requests, stops after the chosen duration, follows a window as it moves,
// and turns a writer failure into the stop sequence and its message. The
// requests may come from any thread (signal flags, hot keys, the writer).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/timer/frame_timer.h"
#include "recorder/control/recording_controller.h"
#include "recorder/control/screen_video_source.h"
#include "shared/geometry.h"

namespace kmr {

// Where the followed window is now; nothing when it is gone or hidden.
class WindowLocator {
 public:
  virtual ~WindowLocator() = default;
  virtual std::optional<Rect> Locate() = 0;
};

class RecordingSession {
 public:
  enum class Outcome { kRecording, kFinished, kStartFailed, kWriteFailed, kVideoFailed };

  RecordingSession(RecordingController* controller, ScreenVideoSource* video,
                   platform::MsClock* clock = platform::SystemMsClock());

  // Recording time (paused time left out) after which the session stops; 0
  // records until asked to stop. A recording stops at the longest a
  // recording can be (kMaxRecordingMs) in any case, so it stays playable.
  void SetDuration(uint32_t ms) { duration_ms_ = ms; }
  // Follows the window inside the screen, keeping the size it had at start.
  void FollowWindow(WindowLocator* locator, const Rect& screen);

  bool Start(const RecordingSettings& settings);
  void RequestStop() { stop_requested_.store(true); }
  void RequestPauseToggle() { pause_toggles_.fetch_add(1); }
  // Message 2027 arrived: the writer thread stopped on a failed write.
  void NotifyWriteFailure() { write_failed_.store(true); }

  // One turn of the loop; false once the recording is over (see Result).
  bool Poll();
  Outcome Result() const { return outcome_; }

  bool IsPaused() const { return controller_->IsPaused(); }
  uint32_t RecordedMs() const { return recorded_ms_; }
  uint64_t Frames() const { return video_->FramesSubmitted(); }
  uint64_t Dropped() const { return video_->FramesDropped(); }

 private:
  void Finish(Outcome outcome);

  RecordingController* controller_;
  ScreenVideoSource* video_;
  platform::MsClock* clock_;
  RecordingSettings settings_;
  uint32_t duration_ms_ = 0;
  WindowLocator* locator_ = nullptr;
  Rect screen_, followed_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<int> pause_toggles_{0};
  std::atomic<bool> write_failed_{false};
  std::atomic<bool> video_failed_{false};
  int pause_toggles_seen_ = 0;
  uint32_t last_poll_ms_ = 0;
  uint32_t recorded_ms_ = 0;
  Outcome outcome_ = Outcome::kFinished;
};

}  // namespace kmr
