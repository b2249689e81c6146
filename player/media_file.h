// Other media files that carry the own codecs (AVI, Windows Media, Matroska,
// MP4), read where the platform has a reader for them.
#pragma once

#include <memory>
#include <string>

#include "player/recording_file.h"

namespace kmr {

// Null with *error set when the file is not one the platform can read.
std::unique_ptr<RecordingFile> OpenMediaFile(const std::string& path, std::string* error);

}  // namespace kmr
