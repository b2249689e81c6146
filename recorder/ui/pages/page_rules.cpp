#include "recorder/ui/pages/page_rules.h"

#include <algorithm>
#include <cstdlib>

#include "recorder/ui/hotkeys/hot_key.h"

namespace kmr {

const std::vector<uint32_t>& HotKeyListCodes() {
  static const std::vector<uint32_t> codes = [] {
    std::vector<uint32_t> c = {0x08, 0x09, 0x0D, 0x1B, 0x20};
    for (uint32_t k = 0x21; k <= 0x28; ++k) c.push_back(k | kExtendedKeyFlag);
    c.push_back(0x2D | kExtendedKeyFlag);
    c.push_back(0x2E | kExtendedKeyFlag);
    for (uint32_t k = 0x60; k <= 0x69; ++k) c.push_back(k);
    for (uint32_t k = 0x30; k <= 0x39; ++k) c.push_back(k);
    for (uint32_t k = 0x41; k <= 0x5A; ++k) c.push_back(k);
    for (uint32_t k = 0x70; k <= 0x7B; ++k) c.push_back(k);
    return c;
  }();
  return codes;
}

uint32_t HotKeyFromControls(uint32_t list_code, bool alt, bool ctrl, bool shift) {
  return list_code * 65536 + (alt ? kHotKeyAlt : 0) + (ctrl ? kHotKeyCtrl : 0) + (shift ? kHotKeyShift : 0);
}

OverwriteResult ApplyOverwriteOption(int option, PathName* path, const std::function<bool(const std::string&)>& ask) {
  if (option < 0) return OverwriteResult::kDeclined;
  if (option == 0 || !path->Exists()) return OverwriteResult::kUse;
  if (option == 1) return ask(path->Get()) ? OverwriteResult::kUse : OverwriteResult::kDeclined;
  return NumberUntilFree(path) ? OverwriteResult::kRenumbered : OverwriteResult::kNoFreeName;
}

int InputScore(const std::string& name) {
  // The Chinese words are in the GBK code page, as the mixer names them there.
  static const char* const kKeywords[10] = {"\xC2\xF3\xBF\xCB", "mic", "out", "wave",
                                            "\xBB\xEC\xD2\xF4", "\xB5\xA5\xC9\xF9\xB5\xC0",
                                            "\xC1\xA2\xCC\xE5\xC9\xF9", "mix", "mono", "stereo"};
  std::string lower = name;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  int score = 0;
  for (int i = 0; i < 10; ++i) {
    if (lower.find(kKeywords[i]) != std::string::npos) score += i + 1;
  }
  return score;
}

int BestInput(const std::vector<std::string>& names) {
  int best = -1, best_score = -1;
  for (size_t i = 0; i < names.size(); ++i) {
    const int s = InputScore(names[i]);
    if (s > best_score) {
      best = static_cast<int>(i);
      best_score = s;
    }
  }
  return best;
}

int FrameRateConfirmation::Value(const std::string& typed) { return std::atoi(typed.c_str()); }

bool FrameRateConfirmation::NeedsQuestion(const std::string& typed) const {
  const int n = Value(typed);
  return n != confirmed_ && n > kHighest;
}

void FrameRateConfirmation::Confirm(const std::string& typed) { confirmed_ = Value(typed); }

const std::vector<OutputFormatName>& OutputFormatNames() {
  static const std::vector<OutputFormatName> names = {
      {"Audio Video Interleaved", "avi"}, {"Windows Media Video", "wmv"}, {"Executable File", "exe"}};
  return names;
}

std::string FormatListItem(const OutputFormatName& f) {
  std::string ext = f.extension;
  for (char& c : ext) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ext + " file";
}

std::string SaveDialogFilter(const std::vector<OutputFormatName>& formats, int current) {
  std::string out;
  const auto add = [&](const OutputFormatName& f) {
    out += std::string(f.display_name) + " (." + f.extension + ")|*." + f.extension + "|";
  };
  if (current >= 0 && current < static_cast<int>(formats.size())) add(formats[current]);
  for (size_t i = 0; i < formats.size(); ++i) {
    if (static_cast<int>(i) != current) add(formats[i]);
  }
  return out + "All Files (*.*)|*.*||";
}

int FormatOfPath(const std::vector<OutputFormatName>& formats, const std::string& path) {
  PathName name;
  std::string ext;
  if (!name.Set(path.c_str()) || !name.Extension(&ext, false)) return -1;
  for (size_t i = 0; i < formats.size(); ++i) {
    if (ext == formats[i].extension) return static_cast<int>(i);
  }
  return -1;
}

std::vector<TrayMenuItem> TrayMenuItems(bool recording, bool paused, const std::string& start_key_name,
                                        const std::string& pause_key_name) {
  return {
      {kCmdSettings, "", recording},
      {kCmdStartStop, std::string(recording ? "Stop" : "Start") + " <" + start_key_name + ">", false},
      {kCmdPauseResume, std::string(recording && paused ? "Resume" : "Pause") + " <" + pause_key_name + ">",
       !recording},
  };
}

RegionFieldLimits RegionLimitsFor(int32_t virtual_width, int32_t virtual_height) {
  const int32_t across = std::max<int32_t>(virtual_width, 4000), down = std::max<int32_t>(virtual_height, 3000);
  return RegionFieldLimits{across, down, across, down};
}

int StoredListPlace(int stored, int places) { return stored >= 0 && stored < places ? stored : 0; }

}  // namespace kmr
