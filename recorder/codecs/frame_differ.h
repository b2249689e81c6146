// The changed region between two pictures when no mirror reports it (offline
// encoding): per row, the spans of changed pixels, split where an unchanged
// gap is long enough to be worth a second command.
#pragma once

#include <vector>

#include "platform/region/region.h"
#include "shared/plane.h"

namespace kmr {

class FrameDiffer {
 public:
  // Unchanged pixels between two changed ones that still end a span.
  static constexpr int32_t kMinGapPixels = 8;

  // before and after have the same geometry; area limits the comparison.
  void Diff(const PlaneView& before, const PlaneView& after, const Rect& area, platform::Region* out);

 private:
  std::vector<Rect> rects_;
};

}  // namespace kmr
