// What a stream is told when it is attached: the format of the packets it
// will be handed. Each kind of stream takes the formats it can store.
#pragma once

#include <cstdint>
#include <vector>

#include "shared/container/container_format.h"
#include "shared/geometry.h"

namespace kmr {

// Frames of an own codec as the capture makes them.
struct OwnVideoFormat {
  uint32_t fps = 15;
  uint32_t compression = 0;  // the codec's FOURCC
  uint32_t bit_rate = 0;
  // The captured image's header (its bit count is the frames' depth) and its
  // colour table (an 8-bit palette or the three 16-bit colour masks; empty
  // otherwise).
  BitmapInfoHeader bitmap;
  std::vector<uint8_t> colour_table;
  Rect capture_rect;  // the recorded rectangle
};

// Frames of an installed compressor.
struct CompressedVideoFormat {
  std::vector<uint8_t> bitmap_info;  // the compressor's output format, 40 bytes or more
  uint32_t scale = 0;
  uint32_t rate = 0;
  uint32_t bit_rate = 0;
};

// MP3 blocks: the 30-byte MP3 wave format.
struct SoundFormat {
  std::vector<uint8_t> wave_format;
};

}  // namespace kmr
