// The configuration record the MP3 encoder library's "beInitStream" takes:
// the LAME kind of the record, version 1, 331 bytes, little-endian, written
// and read field by field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kmr {

inline constexpr uint32_t kLameConfigKind = 256;
inline constexpr uint32_t kLameConfigSize = 331;

struct LameConfig {
  uint32_t sample_rate = 0;
  uint32_t resample_rate = 0;    // 0: the encoder decides
  int32_t mode = 0;              // 0 stereo, 3 mono
  uint32_t bit_rate = 0;         // kbit/s; the minimum with a variable rate
  uint32_t max_bit_rate = 0;     // kbit/s
  int32_t preset = -1;
  uint32_t mpeg_version = 0;     // 1 MPEG-1, 0 MPEG-2
  uint32_t psy_model = 0;
  uint32_t emphasis = 0;
  uint32_t header_flags[4] = {0, 0, 0, 0};  // private, CRC, copyright, original
  uint32_t write_vbr_header = 0;
  uint32_t enable_vbr = 0;
  int32_t vbr_quality = 0;
  uint32_t abr_bit_rate = 0;
  int32_t vbr_method = 0;
  uint32_t no_bit_reservoir = 0;
  uint32_t strict_iso = 0;
  uint16_t quality_word = 0;     // low byte the quality, high byte its complement
};

using LameConfigRecord = std::array<uint8_t, kLameConfigSize>;

LameConfigRecord WriteLameConfig(const LameConfig& c);
// False when the record is not a LAME record of version 1 and 331 bytes.
bool ReadLameConfig(const uint8_t* record, LameConfig* c);

}  // namespace kmr
