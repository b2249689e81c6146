// Integer division rounded to the nearest: MulDiv as the Windows one does,
// and RoundedDiv for the unsigned time and index sums of the streams.
#pragma once

#include <cstdint>

namespace kmr {

// a × b ÷ c with a 64-bit intermediate, rounded to the nearest (halves away
// from zero); -1 when c is 0 or the result does not fit 32 bits.
inline int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t n = static_cast<int64_t>(a) * b;
  const bool negative = (n < 0) != (c < 0);
  uint64_t un = static_cast<uint64_t>(n < 0 ? -n : n);
  const uint64_t uc = static_cast<uint64_t>(c < 0 ? -static_cast<int64_t>(c) : c);
  const uint64_t q = (un + uc / 2) / uc;
  if (q > static_cast<uint64_t>(INT32_MAX)) return -1;
  return negative ? -static_cast<int32_t>(q) : static_cast<int32_t>(q);
}

// a ÷ b rounded to the nearest (halves up), held at the largest 32-bit
// value; b must not be 0.
inline uint32_t RoundedDiv(uint64_t a, uint64_t b) {
  const uint64_t q = a / b + (a % b >= b - b / 2 ? 1 : 0);
  return q > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(q);
}

}  // namespace kmr
