// Silence in MP3: a frame coded like a given one (same version, rate, bit
// rate and channels) whose side information and data are all zero, which
// every decoder plays as silence.
#pragma once

#include <cstdint>
#include <vector>

namespace kmr {

// Empty when data does not begin with an MPEG audio layer III frame header.
std::vector<uint8_t> SilentMp3FrameLike(const uint8_t* data, uint32_t size);

}  // namespace kmr
