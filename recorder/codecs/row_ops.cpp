#include "recorder/codecs/row_ops.h"

#include <cstring>

namespace kmr {

bool XorRun(const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n) {
  uint64_t acc = 0;
  size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    uint64_t va[8], vb[8];
    std::memcpy(va, a + i, 64);
    std::memcpy(vb, b + i, 64);
    for (int k = 0; k < 8; ++k) {
      va[k] ^= vb[k];
      acc |= va[k];
    }
    std::memcpy(out + i, va, 64);
  }
  uint8_t tail = 0;
  for (; i < n; ++i) {
    out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
    tail |= out[i];
  }
  return (acc | tail) != 0;
}

}  // namespace kmr
