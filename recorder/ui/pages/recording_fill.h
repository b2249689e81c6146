// The one way from what the user chose, in kelvo.exe's pages or on kelvo's
// command line, to the settings of one recording.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "recorder/control/recording_controller.h"
#include "recorder/ui/settings/settings_pages.h"

namespace kmr {

// What codes the frames: an own codec's encoder, or an installed compressor.
struct CodecUse {
  FrameEncoder* encoder = nullptr;
  VideoCompressor* compressor = nullptr;
};

// A chosen compressor takes the own codec's place; the information texts go
// with every output kind (the kinds that have no place for them leave them
// out).
inline RecordingSettings FillRecording(OutputKind kind, CodecUse codec, std::string output_path, const Rect& area,
                                       std::string fps_text, bool record_audio, const InfoSettings& texts,
                                       uint64_t key_interval = kRecordingKeyInterval) {
  RecordingSettings s;
  s.output = kind;
  s.compressor = codec.compressor;
  s.encoder = codec.compressor != nullptr ? nullptr : codec.encoder;
  s.output_path = std::move(output_path);
  s.capture_rect = area;
  s.fps_text = std::move(fps_text);
  s.record_audio = record_audio;
  s.key_interval = key_interval;
  s.title = texts.title;
  s.author = texts.author;
  s.copyright = texts.copyright;
  s.description = texts.description;
  return s;
}

}  // namespace kmr
