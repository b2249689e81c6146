// Decodes the screen video stream of a recording into raw frames, one per
// slot of the frame grid (a slot without a packet repeats the picture).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "player/container_file.h"
#include "player/recording_file.h"
#include "shared/container/container_format.h"

namespace kmr {

struct RawVideoInfo {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bits = 0;
  uint32_t fps = 0;
  uint32_t colour_masks[3] = {0, 0, 0};  // 16-bit layouts
  std::vector<uint8_t> palette;           // 8 bits: 256 colours, 4 bytes each (blue, green, red, 0)
};

// Calls frame(index, rows) for every grid slot up to the recording's duration;
// rows are top-down, width × bytes per pixel each. Returns false with *error
// set when the recording cannot be decoded; the sink returning false stops.
bool ExportRawFrames(RecordingFile* file, RawVideoInfo* info,
                     const std::function<bool(uint32_t index, const std::vector<uint8_t>& rows)>& frame,
                     std::string* error);

// The frame of one grid slot (kLastSlot: the last one), rows as above.
inline constexpr uint32_t kLastSlot = 0xFFFFFFFFu;
bool ExportFrame(RecordingFile* file, uint32_t slot, RawVideoInfo* info, std::vector<uint8_t>* rows,
                 std::string* error);

// The deep check: every stream is one the player plays and its format is
// sound, and every video packet decodes. False with *problem (one line).
bool CheckPlayable(RecordingFile* file, std::string* problem);

}  // namespace kmr
