// The Windows player and tools read the own container only.
#include "player/media_file.h"

namespace kmr {

std::unique_ptr<RecordingFile> OpenMediaFile(const std::string&, std::string*) { return nullptr; }
std::unique_ptr<RecordingFile> OpenMediaSource(std::shared_ptr<ByteSource>, std::string*) { return nullptr; }

}  // namespace kmr
