#include "recorder/ui/gtk/gui_model.h"

#include "recorder/codecs/own_codecs.h"
#include "recorder/ui/hotkeys/hot_key.h"
#include "recorder/ui/pages/page_rules.h"

namespace kmr {

std::vector<CodecChoice> CodecChoices(int32_t format, const std::vector<std::string>& compressor_options,
                                      const std::vector<std::string>& compressor_names) {
  std::vector<CodecChoice> out;
  for (const OwnCodec& c : OwnCodecs()) out.push_back({c.name, c.option});
  if (format != 2) {
    for (size_t i = 0; i < compressor_options.size() && i < compressor_names.size(); ++i) {
      out.push_back({compressor_names[i], compressor_options[i]});
    }
  }
  return out;
}

std::vector<std::string> RecordArguments(const std::string& output_path, const std::string& codec_option,
                                         unsigned long window) {
  std::vector<std::string> a = {"record", "-o", output_path, "--overwrite", "--no-hot-keys"};
  if (!codec_option.empty()) {
    a.push_back("--codec");
    a.push_back(codec_option);
  }
  if (window != 0) {
    a.push_back("--window");
    a.push_back(std::to_string(window));
  }
  return a;
}

RecorderLine ParseRecorderLine(const std::string& in) {
  RecorderLine out;
  const std::string prefix = "kelvo: ";
  const size_t at = in.find(prefix);
  if (at == std::string::npos) return out;  // a status line or someone else's
  out.text = in.substr(at + prefix.size());
  while (!out.text.empty() && (out.text.back() == '\n' || out.text.back() == '\r')) out.text.pop_back();
  if (out.text.rfind("recording again", 0) == 0) {
    out.kind = RecorderLine::Kind::kResumed;
  } else if (out.text.rfind("recording ", 0) == 0) {
    out.kind = RecorderLine::Kind::kStarted;
  } else if (out.text == "paused") {
    out.kind = RecorderLine::Kind::kPaused;
  } else if (out.text.rfind("wrote ", 0) == 0) {
    out.kind = RecorderLine::Kind::kWrote;
  }
  return out;
}

std::string FailureText(const std::vector<std::string>& lines, int exit_status) {
  std::string text;
  for (const std::string& l : lines) {
    const RecorderLine r = ParseRecorderLine(l);
    if (r.kind != RecorderLine::Kind::kOther || r.text.empty()) continue;
    if (r.text.rfind("the screen is captured through", 0) == 0 || r.text.rfind("sound from", 0) == 0) continue;
    if (!text.empty()) text += "\n";
    text += r.text;
  }
  if (text.empty()) text = "The recorder stopped (exit status " + std::to_string(exit_status) + ").";
  return text;
}

std::vector<GuiMenuItem> GuiMenu(bool recording, bool paused, uint32_t start_hot_key, uint32_t pause_hot_key) {
  const std::vector<TrayMenuItem> changing =
      TrayMenuItems(recording, paused, HotKeyName(start_hot_key), HotKeyName(pause_hot_key));
  std::vector<GuiMenuItem> out = {{kCmdSettings, "Settings", true}};
  for (const TrayMenuItem& t : changing) {
    if (t.command == kCmdSettings) {
      out[0].enabled = !t.grayed;
    } else {
      out.push_back({t.command, t.label, !t.grayed});
    }
  }
  out.push_back({kCmdViewVideos, "View Videos", true});
  out.push_back({kCmdHelp, "Help", true});
  out.push_back({kCmdAbout, "About", true});
  out.push_back({kCmdExit, "Exit", true});
  return out;
}

std::string AutostartEntry(const std::string& program) {
  return "[Desktop Entry]\nType=Application\nName=Kelvo\nComment=Screen recorder\nExec=\"" + program +
         "\" gui\nIcon=media-record\nX-GNOME-Autostart-enabled=true\n";
}

}  // namespace kmr
