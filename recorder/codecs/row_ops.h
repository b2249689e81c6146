// Row comparisons of the lossless encoder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmr {

// out = a XOR b over n bytes; true when any byte differs. Works on 64-byte
// blocks with one OR accumulator, then the tail byte by byte.
bool XorRun(const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n);

}  // namespace kmr
