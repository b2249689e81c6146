// The Windows player and tools read the own container only.
#include "player/media_file.h"

namespace kmr {

std::unique_ptr<RecordingFile> OpenMediaFile(const std::string&, std::string*) { return nullptr; }

}  // namespace kmr
