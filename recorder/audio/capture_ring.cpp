#include "recorder/audio/capture_ring.h"

#include <algorithm>

namespace kmr {

void CaptureRing::Queued(size_t i) {
  if (i >= states_.size()) return;
  states_[i] = State::kQueued;
  last_queued_ = i;
}

bool CaptureRing::Done(size_t i, bool has_sound) {
  if (i >= states_.size() || states_[i] != State::kQueued) return false;
  states_[i] = has_sound ? State::kHeld : State::kFree;
  return true;
}

void CaptureRing::Released(size_t i) {
  if (i < states_.size() && states_[i] == State::kHeld) states_[i] = State::kFree;
}

std::vector<size_t> CaptureRing::ToQueue() const {
  std::vector<size_t> out;
  const size_t n = states_.size();
  const size_t first = last_queued_ == static_cast<size_t>(-1) ? 0 : (last_queued_ + 1) % n;
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (first + k) % n;
    if (states_[i] == State::kFree) out.push_back(i);
  }
  return out;
}

size_t CaptureRing::QueuedCount() const {
  return static_cast<size_t>(std::count(states_.begin(), states_.end(), State::kQueued));
}

}  // namespace kmr
