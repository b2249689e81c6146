// Frames that say which frame they are: every pixel of frame i is blue 200,
// green 32 + 64 × (i / 256), red i mod 256 (up to 1024 frames), so a single
// pixel read off the screen tells which frame a player shows.
#pragma once

#include <cstdint>
#include <vector>

namespace kmr::testing {

inline void PaintColourFrame(uint32_t i, std::vector<uint8_t>* bgrx) {
  for (size_t p = 0; p + 3 < bgrx->size(); p += 4) {
    (*bgrx)[p] = 200;
    (*bgrx)[p + 1] = static_cast<uint8_t>(32 + 64 * (i / 256));
    (*bgrx)[p + 2] = static_cast<uint8_t>(i % 256);
    (*bgrx)[p + 3] = 0;
  }
}

// The frame a pixel stands for, or -1.
inline int FrameOfColour(const uint8_t* bgrx) {
  if (bgrx[0] != 200 || (bgrx[1] - 32) % 64 != 0) return -1;
  return bgrx[2] + 256 * ((bgrx[1] - 32) / 64);
}

}  // namespace kmr::testing
