// The sound of a recording as it is stored: the MP3 stream of its first
// audio stream, packet after packet, so that any player or decoder can check
// it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/container_file.h"
#include "player/recording_file.h"

namespace kmr {

struct AudioExport {
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
  uint32_t first_time_stamp = 0;  // where the sound starts on the time line (ms)
  uint32_t packets = 0;
  std::vector<uint8_t> mp3;
};

// False with *error when the recording has no MP3 audio stream or a packet
// cannot be read.
bool ExportAudio(RecordingFile* file, AudioExport* out, std::string* error);

}  // namespace kmr
