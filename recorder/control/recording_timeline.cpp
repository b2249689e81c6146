#include "recorder/control/recording_timeline.h"

#include <algorithm>

namespace kmr {

bool RecordingTimeline::View::Place(double since_start_ms, double* at_ms) const {
  if (!started || since_start_ms < 0) return false;
  double paused = 0;
  for (const auto& [from, to] : pauses) {
    if (since_start_ms < static_cast<double>(from)) break;
    if (to == kOpen || since_start_ms < static_cast<double>(to)) return false;
    paused += static_cast<double>(to - from);
  }
  *at_ms = since_start_ms - paused;
  return true;
}

void RecordingTimeline::Start() {
  const uint32_t now = clock_->NowMs();
  platform::MutexLock lock(mu_);
  view_ = View{};
  view_.started = true;
  view_.start_clock_ms = now;
}

void RecordingTimeline::Pause() {
  const uint32_t now = clock_->NowMs();
  platform::MutexLock lock(mu_);
  if (!view_.started || (!view_.pauses.empty() && view_.pauses.back().second == View::kOpen)) return;
  const int64_t at = static_cast<int32_t>(now - view_.start_clock_ms);
  view_.pauses.emplace_back(at, View::kOpen);
}

void RecordingTimeline::Resume() {
  const uint32_t now = clock_->NowMs();
  platform::MutexLock lock(mu_);
  if (view_.pauses.empty() || view_.pauses.back().second != View::kOpen) return;
  const int64_t at = static_cast<int32_t>(now - view_.start_clock_ms);
  view_.pauses.back().second = std::max(at, view_.pauses.back().first);
}

int64_t RecordingTimeline::SinceStartMs(uint32_t clock_ms) const {
  platform::MutexLock lock(mu_);
  return static_cast<int32_t>(clock_ms - view_.start_clock_ms);
}

uint32_t RecordingTimeline::NowMs() const {
  const uint32_t now = clock_->NowMs();
  platform::MutexLock lock(mu_);
  if (!view_.started) return 0;
  int64_t t = static_cast<int32_t>(now - view_.start_clock_ms);
  int64_t paused = 0;
  for (const auto& [from, to] : view_.pauses) {
    paused += (to == View::kOpen ? std::max(t, from) : to) - from;
  }
  t -= paused;
  return t < 0 ? 0 : static_cast<uint32_t>(t);
}

RecordingTimeline::View RecordingTimeline::Snapshot() const {
  platform::MutexLock lock(mu_);
  return view_;
}

}  // namespace kmr
