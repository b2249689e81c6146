// The recorder's side of the change ring: takes the write sequence once per
// drain and judges both the overflow and the rectangles from that snapshot.
//
// A drawing thread takes its sequence number before it stores its
// rectangle, so a drain can meet a slot whose number is taken but whose
// rectangle is not there yet, and would never look at it again. The reader
// therefore reads the slots of the previous drain's last few numbers once
// more at the next drain, when those writers have finished, and delivers
// those whose rectangle is not the one it read there before.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "driver/quarn_protocol.h"

namespace kmr {

class ChangeRingReader {
 public:
  // Slots of the previous drain read again: more than drawing threads can be
  // between taking a number and storing their rectangle.
  static constexpr uint32_t kRevisit = 64;

  struct Result {
    uint32_t rectangles = 0;  // delivered, the revisited ones included
    bool overflowed = false;  // the writer ran more than the capacity ahead
  };

  // A new ring (or none): nothing to revisit.
  void Reset() { last_.clear(); }

  // Delivers the rectangles written since the last drain. After an overflow
  // nothing is delivered (the whole surface counts as changed anyway).
  Result Drain(uint8_t* ring, const std::function<void(const QuarnRect&)>& visit);

 private:
  // The previous drain's last numbers and what their slots held then.
  uint32_t last_end_ = 0;  // the read sequence after that drain
  std::vector<QuarnRect> last_;
};

}  // namespace kmr
