#include "recorder/capture/change_ring_reader.h"

#include <algorithm>

namespace kmr {

namespace {

QuarnRect Slot(const uint8_t* ring, uint32_t capacity, uint32_t sequence) {
  const uint8_t* s = ring + QUARN_RING_HEADER_BYTES + static_cast<size_t>(sequence % capacity) * QUARN_RING_SLOT_BYTES;
  auto word = [s](int i) {
    return static_cast<int32_t>(static_cast<uint32_t>(s[4 * i]) | (static_cast<uint32_t>(s[4 * i + 1]) << 8) |
                                (static_cast<uint32_t>(s[4 * i + 2]) << 16) |
                                (static_cast<uint32_t>(s[4 * i + 3]) << 24));
  };
  return QuarnRect{word(0), word(1), word(2), word(3)};
}

void StoreReadSequence(uint8_t* ring, uint32_t v) {
  for (int i = 0; i < 4; ++i) ring[8 + i] = static_cast<uint8_t>(v >> (8 * i));
}


bool Same(const QuarnRect& a, const QuarnRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

ChangeRingReader::Result ChangeRingReader::Drain(uint8_t* ring, const std::function<void(const QuarnRect&)>& visit) {
  Result result;
  if (ring == nullptr) return result;
  const uint32_t capacity = quarn_ring_capacity(ring);
  if (capacity == 0) return result;
  const uint32_t write = quarn_ring_write_sequence(ring);  // the one snapshot
  const uint32_t read = quarn_ring_read_sequence(ring);
  const uint32_t pending = write - read;
  // The slots read again are overwritten once the writer is a ring ahead of
  // them; then the late rectangle may be lost too.
  const uint32_t revisit = last_end_ == read ? static_cast<uint32_t>(last_.size()) : 0;
  if (pending > capacity - std::min(capacity - 1, revisit)) {
    // Slots not read yet were overwritten: which places changed is unknown.
    result.overflowed = true;
  } else {
    for (uint32_t i = 0; i < revisit; ++i) {
      const QuarnRect r = Slot(ring, capacity, read - revisit + 1 + i);
      if (Same(r, last_[i])) continue;  // read whole the first time
      visit(r);
      ++result.rectangles;
    }
    for (uint32_t seq = read + 1; seq != write + 1; ++seq) {
      visit(Slot(ring, capacity, seq));
      ++result.rectangles;
    }
  }
  // Remember this drain's last numbers, to read them again next time.
  const uint32_t keep = std::min(kRevisit, std::min(capacity - 1, pending));
  last_.clear();
  for (uint32_t seq = write - keep + 1; seq != write + 1; ++seq) last_.push_back(Slot(ring, capacity, seq));
  last_end_ = write;
  StoreReadSequence(ring, write);
  return result;
}

}  // namespace kmr
