// One descriptor per own screen codec: what the writers, the readers, the
// player's decoders and the codec module need to know of it, in one table
// (a new own codec is a row here and a FrameEncoder/FrameDecoder pair).
#pragma once

#include <cstdint>

namespace kmr {

struct OwnCodecInfo {
  uint32_t fourcc;
  const char* option;            // its name on command lines ("lossless")
  const char* name;              // its name in codec lists
  const char16_t* display_name;  // the same, for the Windows Media header and the codec module
  const char16_t* short_name;    // the compressor manager's short name
  // Its frames have even sides: the stream format's sides are rounded up.
  // The others keep the recorded rectangle exactly.
  bool even_sides;
  // Its packets carry key frames (a player can seek to them).
  bool key_frames;
};

// Every own codec, the lossless one first.
const OwnCodecInfo* OwnCodecInfos(uint32_t* count);
// The own codec of that FOURCC, or null for any other.
const OwnCodecInfo* FindOwnCodecInfo(uint32_t fourcc);
inline bool IsOwnFourCc(uint32_t fourcc) { return FindOwnCodecInfo(fourcc) != nullptr; }

}  // namespace kmr
