// One output format's parts, made in one place for every program that
// records (kelvo, kelvo.exe, kmrtool encode): the writer and the streams it
// writes. The video stream takes the own codecs' frames, and an installed
// compressor's where the format allows it; the sound stream takes MP3.
#pragma once

#include <memory>

#include "recorder/outputs/container/executable_writer.h"
#include "recorder/outputs/media_stream.h"
#include "recorder/outputs/media_writer.h"
#include "recorder/outputs/output_kind.h"

namespace kmr {

struct OutputSet {
  OutputKind kind = OutputKind::kExecutable;
  std::unique_ptr<MediaWriter> writer;
  std::unique_ptr<VideoStream> video;
  std::unique_ptr<SoundStream> audio;
  // The video stream takes an installed compressor's frames.
  bool takes_compressor = false;
  // The self-playing writer (its player is set by the program); null for
  // the other kinds.
  ExecutableWriter* executable = nullptr;
};

// The writer is initialised (a missing Windows Media runtime shows when the
// file is opened) and named as the kind is; nothing is attached yet.
OutputSet MakeOutputSet(OutputKind kind);
// The stand-alone container (the self-playing file without its player).
OutputSet MakeContainerOutputSet();

}  // namespace kmr
