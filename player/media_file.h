// Other media files that carry the own codecs (AVI, Windows Media, Matroska,
// MP4), read where the platform has a reader for them.
#pragma once

#include <memory>
#include <string>

#include "player/byte_source.h"
#include "player/recording_file.h"

namespace kmr {

// Null with *error set when the file is not one the platform can read.
std::unique_ptr<RecordingFile> OpenMediaFile(const std::string& path, std::string* error);
// The same through a source of the file's bytes (which the reader shares).
std::unique_ptr<RecordingFile> OpenMediaSource(std::shared_ptr<ByteSource> source, std::string* error);

}  // namespace kmr
