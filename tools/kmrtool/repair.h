// Rebuilds a recording whose recorder died before it wrote the trailer
// (power loss, a killed process): finds the container (after the player's
// bytes in a self-playing file), keeps every whole packet, drops a torn or
// damaged tail, and writes the trailer with the duration of what was kept.
#pragma once

#include <cstdint>
#include <string>

namespace kmr {

struct RepairReport {
  uint64_t container_start = 0;
  uint32_t streams = 0;
  uint64_t packets = 0;
  uint64_t bytes_dropped = 0;  // what followed the last whole packet
  uint32_t duration = 0;
};

// Writes the repaired recording to out (never in place). False with *error
// set when no container can be found or the output cannot be written.
bool RepairRecording(const std::string& in, const std::string& out, RepairReport* report, std::string* error);

}  // namespace kmr
