// What the Linux recorder's window decides without a window: the codec
// list of a format, the command line of the recording it starts (the same
// `kelvo record` as on the terminal, with the settings the pages saved),
// what the recorder's lines on standard error say, the notification-area
// menu's labels and the log-on start file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/ui/settings/settings_pages.h"

namespace kmr {

// The window's application id (one instance per user session).
inline constexpr const char* kGuiApplicationId = "org.norvane.Kelvo";

// The codec list for a format (0 AVI, 1 Windows Media, 2 self-playing):
// the own codecs' list names, then for AVI and Windows Media the installed
// compressors' names. Each entry: the shown name and the name --codec takes.
struct CodecChoice {
  std::string shown;
  std::string option;
};
std::vector<CodecChoice> CodecChoices(int32_t format, const std::vector<std::string>& compressor_options,
                                      const std::vector<std::string>& compressor_names);

// The arguments after the program's name for a recording: the resolved
// output path (replaced without asking: the window asked), the codec, the
// window picked beforehand (0: none), and no hot keys (the window holds
// them). Everything else comes from the saved settings.
std::vector<std::string> RecordArguments(const std::string& output_path, const std::string& codec_option,
                                         unsigned long window);

// A line the recorder writes on standard error.
struct RecorderLine {
  enum class Kind { kStarted, kPaused, kResumed, kWrote, kOther };
  Kind kind = Kind::kOther;
  std::string text;  // without "kelvo: "
};
RecorderLine ParseRecorderLine(const std::string& line);
// The failure dialog's text: the recorder's lines that say why (progress
// lines left out), or a plain note with the exit status when it said nothing.
std::string FailureText(const std::vector<std::string>& lines, int exit_status);

// The menu's labels in order: Settings, Start/Stop <key>, Pause/Resume <key>,
// View Videos, Help, About, Exit, with whether each can be chosen.
struct GuiMenuItem {
  uint32_t command;
  std::string label;
  bool enabled;
};
std::vector<GuiMenuItem> GuiMenu(bool recording, bool paused, uint32_t start_hot_key, uint32_t pause_hot_key);

// The log-on start file (~/.config/autostart/kelvo.desktop) for a program path.
std::string AutostartEntry(const std::string& program);

}  // namespace kmr
