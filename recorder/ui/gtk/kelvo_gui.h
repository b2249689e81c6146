// The Linux recorder's window (GTK 3): the Video, Audio, Info and Options
// pages over the recorder's settings, a notification-area icon with the
// recorder's menu (StatusNotifierItem through libayatana-appindicator),
// the start/stop and pause hot keys, and one instance per session (a
// second start brings the first window to the front). A recording is
// `kelvo record` run with the settings the pages saved; the window shows
// its progress and outcome.
#pragma once

#include <string>
#include <vector>

namespace kmr {

struct GuiEnvironment {
  std::string program;                          // this program, for the recordings
  std::vector<std::string> compressor_options;  // --codec names of the installed compressors
  std::vector<std::string> compressor_names;    // their list names
};

// Runs the window until Exit; the process's exit status.
int RunKelvoGui(int argc, char** argv, const GuiEnvironment& environment);

}  // namespace kmr
