// libFuzzer target: any bytes as a file a killed recorder left, under each
// of the extensions the recorder writes. The repair must make a file or say
// why, without reading or writing outside its memory, and never touch its
// input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/kmrtool/media_repair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/kmr_media_repair_fuzzXXXXXX";
    const char* made = mkdtemp(tmpl);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  static const char* const kExtensions[] = {"avi", "mkv", "mp4", "wmv"};
  const std::string ext = kExtensions[size % 4];
  const std::string in = dir + "/in." + ext, out = dir + "/out." + ext;
  if (std::FILE* f = std::fopen(in.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  kmr::MediaRepairReport report;
  std::string error;
  kmr::RepairMediaFile(in, out, &report, &error);
  std::remove(out.c_str());
  return 0;
}
