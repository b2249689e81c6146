// Offline there is no window manager to say that a window is being dragged.
// This finds the dominant movement of a block between two pictures, so that
// the offline encoder can describe it the way the live recorder sees a drag:
// a foreground window at the block's new place, the pointer moved by the same
// amount, the left button down.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr {

struct Motion {
  int32_t dx = 0, dy = 0;  // new place − old place
  Rect window;             // where the moved block is now
};

class MotionEstimator {
 public:
  static constexpr int32_t kSearch = 96;   // pixels around the changed area
  static constexpr int32_t kProbe = 24;    // pixels per probe segment
  static constexpr int kMinVotes = 3;

  // before: the previous picture; after: the new one; changed: the changed
  // row spans (banded rectangles). Nothing when no block moved.
  std::optional<Motion> Estimate(const PlaneView& before, const PlaneView& after, const std::vector<Rect>& changed);

 private:
  std::unordered_map<uint64_t, std::vector<uint32_t>> table_;
};

}  // namespace kmr
