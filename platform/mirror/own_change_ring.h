// The change ring of a mirror without a driver: in the mirror's own memory,
// in the driver protocol's layout, written when tracking is on.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/quarn_protocol.h"
#include "shared/geometry.h"

namespace kmr::platform {

class OwnChangeRing {
 public:
  // A new ring of that capacity; false for one that cannot be addressed.
  bool Map(uint32_t capacity, uint8_t** ring) {
    const size_t n = quarn_ring_bytes(capacity);
    if (n == 0) return false;
    words_.assign(n / 4 + 1, 0);
    quarn_ring_init(Bytes(), capacity);
    *ring = Bytes();
    return true;
  }
  void Unmap() {
    words_.clear();
    tracking_ = false;
  }
  void SetTracking(bool on) { tracking_ = on; }
  // Adds a rectangle when tracking and mapped; an empty one is left out.
  void Report(const Rect& r) {
    if (!tracking_ || words_.empty() || r.IsEmpty()) return;
    QuarnRect q{r.left, r.top, r.right, r.bottom};
    quarn_ring_add(Bytes(), &q);
  }

 private:
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(words_.data()); }
  std::vector<uint32_t> words_;  // word-aligned for the sequence words
  bool tracking_ = false;
};

}  // namespace kmr::platform
