// What ffprobe, a reader independent of ours, says of a media file: the
// length its header gives, and how far its video packets go (a file whose
// writer was killed may not say its length).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kmr::testing {

inline bool HaveFfprobe() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }

// The header's length in seconds; -1 when ffprobe says none.
inline double FfprobeHeaderSeconds(const std::string& path) {
  const std::string cmd = "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path +
                          "' 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char line[64] = "";
  const bool got = std::fgets(line, sizeof(line), p) != nullptr;
  pclose(p);
  return got && line[0] != 'N' ? std::atof(line) : -1;
}

// The end of the last video packet that can be read, in seconds.
inline double FfprobeReadableSeconds(const std::string& path) {
  const std::string cmd = "ffprobe -v error -select_streams v -show_entries packet=pts_time,duration_time "
                          "-of csv=p=0 '" + path + "' 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  double end = 0;
  char line[128];
  while (std::fgets(line, sizeof(line), p) != nullptr) {
    double pts = 0, duration = 0;
    if (std::sscanf(line, "%lf,%lf", &pts, &duration) >= 1 && pts + duration > end) end = pts + duration;
  }
  pclose(p);
  return end;
}

}  // namespace kmr::testing
