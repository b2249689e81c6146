// The rules of the recorder's settings pages and of its notification-area
// menu that need no window: the hot-key key list, the output path's
// overwrite option, the sound input picked by its name, the frames-per-second
// question, the save dialog's filter and the menu's labels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shared/path_name.h"
#include "shared/text/format_text.h"

namespace kmr {

namespace page_texts {
inline constexpr const char* kHotKeyInUse = "Failed to register the hotkey:\n\n<%s>\n\nIt is in use. Please try other keys.";
inline constexpr const char* kAlreadyExists = "The output file already exists:\n\n%s\n\nAre you sure to overwrite it?";
inline constexpr const char* kFpsTooHigh =
    "The capture FPS you specified is too high. It may cause your video grow too big. The recommended video FPS "
    "range is between %dfps and %dfps.\n\nDo you wish to continue and use the current value anyway?";
inline constexpr const char* kNoAudioDevice = "Audio mixer device not found! Can not enable audio recording.";
inline constexpr const char* kRestoreBalloon = "Double-click icon to restore main window.";
inline constexpr const char* kExitWhileRecording = "Screen recording is in progress! Are you sure to exit?";
inline constexpr const char* kOldWindows =
    "This program can not run on Windows 95/98/ME.\nPlease run it on Windows 2000/XP/2003 or later version of "
    "Windows.";
inline constexpr const char* kSecondInstance =
    "You are running another instance of this program.\n\nOnly one instance is allowed to run at the same time.";
inline constexpr const char* kDefaultDevice = "[Default Audio Device]";
inline constexpr const char* kDefaultInput = "[Default Audio Input]";
}  // namespace page_texts

// The keys of the hot-key lists, in list order (73): Backspace, Tab, Enter,
// Esc, Space, the ten navigation keys (their codes carry the extended-key
// flag 0x100), the keypad digits, the digits, A to Z, F1 to F12.
const std::vector<uint32_t>& HotKeyListCodes();
inline constexpr uint32_t kExtendedKeyFlag = 0x100;
// The hot-key value of a key-list code and the three check boxes.
uint32_t HotKeyFromControls(uint32_t list_code, bool alt, bool ctrl, bool shift);
// The key-list code a hot-key value selects (the key code with its extended flag).
inline uint32_t HotKeyListCode(uint32_t value) { return (value >> 16) & 0x1FF; }

// What the overwrite option did to an output path whose file may exist.
enum class OverwriteResult { kUse, kRenumbered, kDeclined, kNoFreeName };
// 0 overwrite, 1 ask (ask(path) true overwrites), 2 next free "#NN" name.
// A negative option is declined.
OverwriteResult ApplyOverwriteOption(int option, PathName* path, const std::function<bool(const std::string&)>& ask);

// The Audio page's preference among a device's inputs: each keyword found in
// the lower-cased name adds its place in the list plus one (microphone, mic,
// out, wave, mix, mono, stereo and stereo mix in two languages).
int InputScore(const std::string& name);
// The best-scoring name's index (the first on ties); -1 for none.
int BestInput(const std::vector<std::string>& names);

// The Video page's frames-per-second confirmation: up to 30, or the value
// confirmed last, is taken silently; more asks once.
class FrameRateConfirmation {
 public:
  static constexpr int kLowest = 1;
  static constexpr int kHighest = 30;
  explicit FrameRateConfirmation(int confirmed = 15) : confirmed_(confirmed) {}
  // The typed value (as atoi reads it); true when it needs the question.
  bool NeedsQuestion(const std::string& typed) const;
  void Confirm(const std::string& typed);
  int Confirmed() const { return confirmed_; }
  static int Value(const std::string& typed);

 private:
  int confirmed_;
};

// The highest values the region edits take (left, top, width, height): the
// virtual screen's sides, and never less than 4000 across and 3000 down.
struct RegionFieldLimits {
  int32_t left, top, width, height;
};
RegionFieldLimits RegionLimitsFor(int32_t virtual_width, int32_t virtual_height);

// A list index read from the settings, for the placeholder items that hold
// its place until the real list exists: one of 0 .. places - 1; anything
// else (a damaged value) takes the first place.
int StoredListPlace(int stored, int places);
// Placeholders at most for the codec list (more than any machine lists).
inline constexpr int kCodecListPlaces = 256;

// An output writer as the format list and the save dialog name it.
struct OutputFormatName {
  const char* display_name;  // "Audio Video Interleaved"
  const char* extension;     // "avi"
};
// The three formats in writer order: AVI, Windows Media, self-playing.
const std::vector<OutputFormatName>& OutputFormatNames();
// "AVI file", "WMV file", "EXE file".
std::string FormatListItem(const OutputFormatName& f);
// "Executable File (.exe)|*.exe|Audio Video Interleaved (.avi)|*.avi|...
// All Files (*.*)|*.*||": the current format first.
std::string SaveDialogFilter(const std::vector<OutputFormatName>& formats, int current);
// The format whose extension equals the path's (exact comparison), or -1.
int FormatOfPath(const std::vector<OutputFormatName>& formats, const std::string& path);

// The notification-area menu: the items whose text or state depends on the
// recording, with their labels.
struct TrayMenuItem {
  uint32_t command;
  std::string label;  // empty: keep the resource's text
  bool grayed;
};
inline constexpr uint32_t kCmdSettings = 32771, kCmdStartStop = 32772, kCmdPauseResume = 32773,
                          kCmdViewVideos = 32774, kCmdHelp = 32775, kCmdAbout = 32776, kCmdExit = 32777;
std::vector<TrayMenuItem> TrayMenuItems(bool recording, bool paused, const std::string& start_key_name,
                                        const std::string& pause_key_name);

}  // namespace kmr
