#include "recorder/ui/linux/kelvo_plan.h"

#include <algorithm>

#include "recorder/codecs/own_codecs.h"

namespace kmr {

namespace {

std::string RegionOffText(const KelvoOptions& o, const Rect& screen, const char* what) {
  return "the region " + std::to_string(o.x) + "," + std::to_string(o.y) + "," + std::to_string(o.width) + "," +
         std::to_string(o.height) + " lies outside the " + std::to_string(screen.Width()) + "x" +
         std::to_string(screen.Height()) + " " + what;
}

}  // namespace

bool PlanRecording(const KelvoOptions& o, const std::string& output_path, const Rect& screen, RecordPlan* plan,
                   std::string* error) {
  if (o.area == KelvoOptions::Area::kRegion) {
    const Rect asked{o.x, o.y, o.x + o.width, o.y + o.height};
    if (Intersect(screen, asked).IsEmpty()) {
      *error = RegionOffText(o, screen, "screen");
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

CaptureRoute ChooseCaptureRoute(KelvoOptions::Capture asked, const char* wayland_display, const char* session_type) {
  if (asked == KelvoOptions::Capture::kX11) return CaptureRoute::kX11;
  if (asked == KelvoOptions::Capture::kPortal) return CaptureRoute::kPortal;
  if (wayland_display != nullptr && *wayland_display != '\0') return CaptureRoute::kPortal;
  if (session_type != nullptr && std::string(session_type) == "wayland") return CaptureRoute::kPortal;
  return CaptureRoute::kX11;
}

bool PortalWantsWindow(const KelvoOptions& o, bool* window, std::string* error) {
  if (o.area == KelvoOptions::Area::kSelect) {
    *error = "selecting a region with the mouse needs X11 (--capture x11 on an X display); here give "
             "--region X,Y,W,H, or --full or --pick-window and choose in the desktop's own dialog";
    return false;
  }
  *window = o.area == KelvoOptions::Area::kWindow || o.area == KelvoOptions::Area::kPickWindow;
  return true;
}

bool PortalArea(const KelvoOptions& o, const Rect& picture, Rect* area, std::string* error) {
  if (o.area != KelvoOptions::Area::kRegion) {
    *area = picture;
    return true;
  }
  const Rect asked{o.x, o.y, o.x + o.width, o.y + o.height};
  *area = Intersect(picture, asked);
  if (area->IsEmpty()) {
    *error = RegionOffText(o, picture, "shared picture");
    return false;
  }
  return true;
}

}  // namespace kmr
