// A pointer image (premultiplied ARGB, 32 bits per pixel) and how mirrors
// without a hardware pointer draw it into a surface, as the system's software
// pointer would: blended over what is underneath.
#pragma once

#include <cstdint>
#include <vector>

#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr::platform {

struct PointerImage {
  int32_t x = 0, y = 0;          // pointer position
  int32_t hot_x = 0, hot_y = 0;  // hot spot
  int32_t width = 0, height = 0;
  uint32_t serial = 0;           // changes when the image changes
  std::vector<uint32_t> argb;    // width × height, premultiplied alpha

  Rect Bounds() const { return Rect{x - hot_x, y - hot_y, x - hot_x + width, y - hot_y + height}; }
};

// Blends the pointer into a surface of 4 (B, G, R, X), 3 (B, G, R), 2 (5-6-5)
// or 1 byte per pixel, clipped to it. An 8-bit surface needs its palette
// (256 entries of B, G, R, X); each blended pixel takes the nearest entry.
// Returns the rectangle touched (empty when none).
Rect BlendPointer(const PointerImage& p, const PlaneView& surface, const std::vector<uint8_t>* palette = nullptr);

}  // namespace kmr::platform
