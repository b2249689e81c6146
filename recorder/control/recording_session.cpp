#include "recorder/control/recording_session.h"

#include "recorder/capture/capture_rect.h"

namespace kmr {

RecordingSession::RecordingSession(RecordingController* controller, ScreenVideoSource* video,
                                   platform::MsClock* clock)
    : controller_(controller), video_(video), clock_(clock) {}

void RecordingSession::FollowWindow(WindowLocator* locator, const Rect& screen) {
  locator_ = locator;
  screen_ = screen;
}

bool RecordingSession::Start(const RecordingSettings& settings) {
  settings_ = settings;
  followed_ = settings.capture_rect;
  stop_requested_.store(false);
  write_failed_.store(false);
  video_failed_.store(false);
  pause_toggles_seen_ = pause_toggles_.load();
  recorded_ms_ = 0;
  // A frame step that fails ends the video thread; the recording goes on
  // without new frames until it is stopped, and the outcome says so.
  video_->SetOnFailure([this](const std::string&) { video_failed_.store(true); });
  controller_->ToggleStartStop(settings_);
  if (!controller_->IsRecording()) {
    outcome_ = Outcome::kStartFailed;
    return false;
  }
  outcome_ = Outcome::kRecording;
  last_poll_ms_ = clock_->NowMs();
  return true;
}

void RecordingSession::Finish(Outcome outcome) {
  if (outcome_ != Outcome::kRecording) return;
  if (controller_->IsRecording()) controller_->ToggleStartStop(settings_);
  if (controller_->LastRecordingFailed()) outcome = Outcome::kWriteFailed;
  outcome_ = outcome;
}

bool RecordingSession::Poll() {
  if (outcome_ != Outcome::kRecording) return false;
  const uint32_t now = clock_->NowMs();
  if (!controller_->IsPaused()) recorded_ms_ += now - last_poll_ms_;
  last_poll_ms_ = now;

  if (write_failed_.load()) {
    controller_->OnWriteFailure();  // the stop sequence and the message
    outcome_ = Outcome::kWriteFailed;
    return false;
  }
  const int toggles = pause_toggles_.load();
  while (pause_toggles_seen_ < toggles) {
    controller_->TogglePause();
    ++pause_toggles_seen_;
  }
  if (locator_ != nullptr) {
    const Rect next = kmr::FollowWindow(screen_, followed_, locator_->Locate());
    if (!(next == followed_)) {
      followed_ = next;
      video_->SetRect(followed_);
    }
  }
  // Players refuse recordings longer than kMaxRecordingMs; the last slot
  // must end before that.
  const uint32_t limit = kMaxRecordingMs - 2000;
  const bool time_up = (duration_ms_ != 0 && recorded_ms_ >= duration_ms_) || recorded_ms_ >= limit;
  if (stop_requested_.load() || time_up) {
    Finish(video_failed_.load() ? Outcome::kVideoFailed : Outcome::kFinished);
    return false;
  }
  return true;
}

}  // namespace kmr
