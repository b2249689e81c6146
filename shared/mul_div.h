// a × b ÷ c with a 64-bit intermediate, rounded to the nearest (halves away
// from zero), as the Windows MulDiv does; -1 when c is 0 or the result does
// not fit 32 bits.
#pragma once

#include <cstdint>

namespace kmr {

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

}  // namespace kmr
