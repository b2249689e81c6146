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

// Where the screen comes from: --capture, else the session (a Wayland
// display or XDG_SESSION_TYPE=wayland: the screen-cast portal; else X11).
// The arguments are the environment's values, null when unset.
enum class CaptureRoute { kX11, kPortal };
CaptureRoute ChooseCaptureRoute(KelvoOptions::Capture asked, const char* wayland_display, const char* session_type);

// On the portal route: whether to ask for a window (--window, --pick-window)
// rather than a monitor; false with the reason for options that need X11
// (--select).
bool PortalWantsWindow(const KelvoOptions& options, bool* window, std::string* error);

// On the portal route: the area to record on the shared picture of that
// size (all of it, or --region cropped to it); false with the reason when
// the region lies outside.
bool PortalArea(const KelvoOptions& options, const Rect& picture, Rect* area, std::string* error);

}  // namespace kmr
