// What kmrtool reports about a recording, and its well-formedness check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/container_file.h"
#include "player/recording_file.h"

namespace kmr {

struct StreamReport {
  uint64_t packets = 0;
  uint64_t key_frames = 0;
  uint64_t bytes = 0;
  uint32_t first_time_stamp = 0;
  uint32_t last_time_stamp = 0;
  uint32_t end_time = 0;
};

struct ProbeReport {
  std::vector<StreamReport> streams;
  uint64_t packets = 0;
  uint64_t unknown_stream_packets = 0;
  // First well-formedness problem found; empty when there is none.
  std::string problem;
  // The packets could not all be read (the problem says why).
  bool read_error = false;
};

// Reads every packet of an open container (from its first packet).
ProbeReport ProbeContainer(RecordingFile* file);

// The report as JSON, one object.
std::string ProbeToJson(const RecordingFile& file, const ProbeReport& report);

}  // namespace kmr
