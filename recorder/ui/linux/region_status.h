// kelvo's four region fields: the numbers the tracker keeps in step, shown
// on the terminal as one line whenever the selected area changes.
#pragma once

#include <cstdio>

#include "recorder/ui/region/region_tracker.h"

namespace kmr {

class RegionStatus : public RegionEdits {
 public:
  int32_t Read(Field f) override { return values_[f]; }
  void Write(Field f, int32_t v) override { values_[f] = v; }
  // Prints "kelvo: selected WxH at X,Y" when the fields changed since the
  // last call.
  void Print(std::FILE* out) {
    bool same = true;
    for (int f = 0; f < 4; ++f) same = same && values_[f] == shown_[f];
    if (same) return;
    for (int f = 0; f < 4; ++f) shown_[f] = values_[f];
    std::fprintf(out, "kelvo: selected %dx%d at %d,%d\n", values_[kWidth], values_[kHeight], values_[kLeft],
                 values_[kTop]);
    std::fflush(out);
  }

 private:
  int32_t values_[4] = {0, 0, 0, 0};
  int32_t shown_[4] = {-1, -1, -1, -1};
};

}  // namespace kmr
