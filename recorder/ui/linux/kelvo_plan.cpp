#include "recorder/ui/linux/kelvo_plan.h"

#include <algorithm>

#include "recorder/codecs/own_codecs.h"

namespace kmr {

bool PlanRecording(const KelvoOptions& o, const std::string& output_path, const Rect& screen, RecordPlan* plan,
                   std::string* error) {
  if (o.area == KelvoOptions::Area::kRegion) {
    const Rect asked{o.x, o.y, o.x + o.width, o.y + o.height};
    if (Intersect(screen, asked).IsEmpty()) {
      *error = "the region " + std::to_string(o.x) + "," + std::to_string(o.y) + "," + std::to_string(o.width) +
               "," + std::to_string(o.height) + " lies outside the " + std::to_string(screen.Width()) + "x" +
               std::to_string(screen.Height()) + " screen";
      return false;
    }
  }
  RecordPlan p;
  p.kind = ChosenOutputKind(o, output_path);
  p.codec = o.codec;
  if (p.kind == OutputKind::kMp4 && !o.codec_given &&
      std::find(o.compressors.begin(), o.compressors.end(), "libx264") != o.compressors.end()) {
    p.codec = "libx264";
  }
  p.use_compressor = FindOwnCodec(p.codec) == nullptr;
  if (p.use_compressor && p.kind == OutputKind::kExecutable) {
    *error = "the self-playing output takes the own codecs only (" + OwnCodecOptions() + ")";
    return false;
  }
  if (!p.use_compressor && !o.codec_options.empty()) {
    *error = "--codec-options are for installed compressors";
    return false;
  }
  *plan = p;
  return true;
}

}  // namespace kmr
