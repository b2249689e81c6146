#include "tools/kmrtool/media_repair.h"

namespace kmr {

// The Windows build reads the media files through no library of its own:
// their repair is the Linux kmrtool's.
bool RepairMediaFile(const std::string& in, const std::string&, MediaRepairReport*, std::string* error) {
  *error = in + ": this kmrtool repairs the self-playing and stand-alone recordings; AVI, Windows Media, "
               "Matroska and MP4 files are repaired by the Linux kmrtool";
  return false;
}

}  // namespace kmr
