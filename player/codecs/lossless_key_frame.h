// The picture a lossless key frame describes, read from the frame itself: one
// key row per picture row, top to bottom, each the picture's width of raw
// pixels. For streams whose container kept only the codec's code (other
// programs' demuxers drop the bitmap header), the first key frame tells the
// size and the bytes per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmr {

struct KeyFrameGeometry {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bytes_per_pixel = 0;
};

// False when the packet is not a whole lossless key frame (damaged, a delta
// frame, rows out of order or of different widths).
bool LosslessKeyFrameGeometry(const uint8_t* packet, size_t length, KeyFrameGeometry* out);

}  // namespace kmr
