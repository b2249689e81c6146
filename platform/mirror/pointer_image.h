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

// Blends the pointer into a 32-bit (B, G, R, X) or 16-bit 5-6-5 surface,
// clipped to it. Returns the rectangle touched (empty when none).
Rect BlendPointer(const PointerImage& p, const PlaneView& surface);

}  // namespace kmr::platform
