// What a kelvo record run will do, decided from its options before anything
// is opened: the output's kind, the codec, and whether an installed
// compressor codes the frames. A run the rules refuse says why.
#pragma once

#include <string>

#include "recorder/outputs/output_kind.h"
#include "recorder/ui/linux/kelvo_options.h"
#include "shared/geometry.h"

namespace kmr {

struct RecordPlan {
  OutputKind kind = OutputKind::kExecutable;
  // An own codec's or an installed compressor's name: MP4 is coded with
  // H.264 when no codec was asked for and that compressor is installed
  // (players expect it).
  std::string codec;
  bool use_compressor = false;
};

// The plan for recording into output_path on a screen of that size; false
// with the reason (a usage error: kelvo exits with 2) when a region lies
// off the screen, a compressor is asked for the self-playing output, or
// compressor options come without a compressor.
bool PlanRecording(const KelvoOptions& options, const std::string& output_path, const Rect& screen, RecordPlan* plan,
                   std::string* error);

}  // namespace kmr
