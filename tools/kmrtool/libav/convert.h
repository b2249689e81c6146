// Converts a recording into a file every player and web site takes, through
// libavcodec and libavformat: MP4 (H.264 with the MP3 sound as it is) unless
// the output's extension says Matroska (.mkv: H.264 and MP3) or WebM (.webm:
// VP9 and Opus). Lossless: x264 at qp 0 in RGB (MP4) or FFV1 (Matroska).
// Only frames that changed are coded: a stretch in which nothing changed is
// one picture held, as in the recording.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "player/recording_file.h"

namespace kmr {

struct ConvertOptions {
  bool lossless = false;
  // The encoder's constant quality: x264's CRF (0..51, lower is better;
  // 20 unless given) or VP9's (0..63; 32 unless given). -1: the default.
  int quality = -1;
  // Now and then: the share of the recording done (0..1).
  std::function<void(double done)> progress;
  // Polled between frames: true stops the conversion.
  std::function<bool()> cancelled;
};

// What a file name's extension makes (a name without a known one is MP4).
struct ConvertTarget {
  const char* container;  // libavformat's muxer
  const char* video;      // libavcodec's encoder
  bool opus_sound;        // the sound is coded again as Opus; else the MP3 is copied
};
// False with *error for a combination that has no place in the container
// (lossless WebM).
bool ChooseConvertTarget(const std::string& output, bool lossless, ConvertTarget* target, std::string* error);

// Writes output from the open recording. On failure or when cancelled the
// half-written output is removed and *error says why ("cancelled" for a
// cancel); the recording is only read.
bool ConvertRecording(RecordingFile* recording, const std::string& output, const ConvertOptions& options,
                      std::string* error);

}  // namespace kmr
