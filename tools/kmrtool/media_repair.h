// Repairs the recordings the recorder writes through a media library (AVI,
// Windows Media, Matroska, MP4) whose recorder died before it finished
// them: every packet that can be read is written again into a finished file
// of the same kind (its index, header counts, duration and cues made
// anew; a fragmented MP4 becomes a plain one). A file that needs no repair
// is copied unchanged and said to be whole. The input is never written.
#pragma once

#include <cstdint>
#include <string>

namespace kmr {

struct MediaRepairReport {
  bool whole = false;  // copied unchanged
  std::string kind;    // "AVI", "Matroska", "MP4", "Windows Media"
  uint64_t packets = 0;
  uint32_t duration_ms = 0;
};

// False with *error (one line) when the input is none of these kinds, none
// of its packets can be read, or the output cannot be written (then no
// output is left behind).
bool RepairMediaFile(const std::string& in, const std::string& out, MediaRepairReport* report, std::string* error);

}  // namespace kmr
