// The Linux recorder's command line:
//   kelvo record [-o FILE] [--fps N] [--full | --region X,Y,W,H | --window ID]
//                [--duration SECONDS] [--player PATH] [--key-interval BYTES]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmr {

struct KelvoOptions {
  enum class Area { kFull, kRegion, kWindow };
  std::string output = "recording";
  std::string fps_text = "15";
  Area area = Area::kFull;
  int32_t x = 0, y = 0, width = 0, height = 0;  // --region
  unsigned long window = 0;                     // --window
  double duration = 0;                          // seconds; 0 = until stopped
  std::string player;                           // empty: morvin beside kelvo
  uint64_t key_interval = 52428800;
};

// Fills options from argv (argv[1] must be "record"); false with *error set
// for a command line that cannot be used.
bool ParseKelvoOptions(const std::vector<std::string>& args, KelvoOptions* options, std::string* error);

const char* KelvoUsage();

// Whether the file at path is a program a recording can be appended to (an
// ELF or a Windows executable); false with *error saying why not.
bool IsPlayerProgram(const std::string& path, std::string* error);

}  // namespace kmr
