// Both players' command line:
//   morvin [FILE] [--loop] [--fit] [--quick] [--exit-at-end] [--seek SECONDS]
//   morvin [FILE] --screenshot OUT.bmp [--seek SECONDS]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmr {

struct PlayerOptions {
  std::string path;  // empty: the recording appended to the program
  bool loop = false;
  bool fit = false;
  bool quick = false;
  bool exit_at_end = false;
  uint32_t seek_ms = 0;
  std::string screenshot;  // write the picture at seek_ms here and exit
  bool help = false;
};

// args without the program's name. False with *error (one line) for a
// command line that cannot be used.
bool ParsePlayerOptions(const std::vector<std::string>& args, PlayerOptions* options, std::string* error);

// A time in seconds ("12", "2.5") as milliseconds; false for text that is
// not a number of seconds from 0 to the longest recording.
bool ParseSeconds(const std::string& text, uint32_t* ms);

}  // namespace kmr
