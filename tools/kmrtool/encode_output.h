// The writer and streams an encoded recording goes into, by the output's
// extension: AVI (also Matroska and MP4 where the platform writes them),
// Windows Media, or the stand-alone container for anything else.
#pragma once

#include <memory>
#include <string>

#include "recorder/engine/media_writer.h"

namespace kmr {

struct EncodeOutput {
  std::unique_ptr<MediaStream> video;
  bool takes_compressor = false;  // the video stream takes an installed compressor's frames (not the container)
  std::unique_ptr<MediaStream> audio;  // null without sound
  std::unique_ptr<MediaWriter> writer;
};

// The writer is initialised and its path set; the streams are not attached.
EncodeOutput MakeEncodeOutput(const std::string& path, bool with_sound);

}  // namespace kmr
