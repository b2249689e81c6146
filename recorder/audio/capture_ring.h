// The ring of capture buffers of a wave-input device: which the device
// holds, which the caller holds, and which are free to be handed to the
// device again. Only free buffers are ever queued (a buffer the device
// still holds is never zeroed and queued twice), a buffer the device gave
// back empty is free at once, and a buffer that could not be queued stays
// free and is tried again at the next turn.
#pragma once

#include <cstddef>
#include <vector>

namespace kmr {

class CaptureRing {
 public:
  enum class State { kFree, kQueued, kHeld };

  explicit CaptureRing(size_t count) : states_(count, State::kFree) {}

  size_t Size() const { return states_.size(); }
  State At(size_t i) const { return states_[i]; }
  // The device took buffer i.
  void Queued(size_t i);
  // The device gave buffer i back: with sound it goes to the caller,
  // without it is free. False when the device did not hold it (a stale or
  // repeated notice), which changes nothing.
  bool Done(size_t i, bool has_sound);
  // The caller is done with buffer i.
  void Released(size_t i);
  // The free buffers, in ring order after the last one queued: the ones to
  // hand to the device now.
  std::vector<size_t> ToQueue() const;
  size_t QueuedCount() const;

 private:
  std::vector<State> states_;
  size_t last_queued_ = static_cast<size_t>(-1);
};

}  // namespace kmr
