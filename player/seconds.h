// A time given on a command line in seconds ("12", "2.5"), as milliseconds.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "shared/container/container_format.h"

namespace kmr {

// False for text that is not a number of seconds from 0 to the longest
// recording.
inline bool ParseSeconds(const std::string& text, uint32_t* ms) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  const double s = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(s >= 0) || s * 1000.0 > kMaxRecordingMs) return false;
  *ms = static_cast<uint32_t>(s * 1000.0 + 0.5);
  return true;
}

}  // namespace kmr
