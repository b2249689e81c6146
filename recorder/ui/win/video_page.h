// The Video page: output file and format, codec, what to capture, frames per
// second and the two global hot keys (registered with the main window).
#pragma once

#include <string>
#include <vector>

#include "recorder/codecs/installed/codec_choices.h"
#include "recorder/ui/pages/page_rules.h"
#include "recorder/ui/region/region_tracker.h"
#include "recorder/ui/settings/settings_pages.h"
#include "recorder/ui/win/recorder_parts.h"
#include "recorder/ui/win/settings_page.h"

namespace kmr::win {

// The key's name from the keyboard layout (a key-list code, with the
// extended-key flag); the plain name when the layout has none.
std::string LayoutKeyName(uint32_t list_code);
std::string HotKeyText(uint32_t value);

class VideoPage : public SettingsPage, private RegionEdits {
 public:
  VideoPage(SheetHost* host, SettingsStore* store, RecorderParts* parts);

  bool Confirm() override;
  void SaveAtExit() override;

  // The format list: one entry per writer; called once the window exists.
  void FillFormats();
  // The output path after the overwrite option; empty when there is none.
  std::string GetOutputPath(int overwrite_option);
  int FormatIndex() const { return settings_.format; }
  // The codec shown; null before the lists exist.
  const CodecChoice* Codec() const;
  std::string FpsText() const;
  uint32_t StartHotKey() const { return start_.value; }
  uint32_t PauseHotKey() const { return pause_.value; }
  const std::string& Path() const { return settings_.path; }
  // The recording moved the "Start" button's text on.
  void ShowRecording(bool on);

 protected:
  void OnInit() override;
  bool OnCommand(int id, int code) override;

 private:
  struct PageHotKey {
    uint32_t* value_in_settings;
    int alt, ctrl, shift, list;
    uint32_t value = 0;
    int id = 0;
    bool registered = false;
  };

  void SelectKey(const PageHotKey& key);
  void RegisterHotKeyFromControls(PageHotKey* key);
  void OnFormatChange(bool restoring);
  void OnCodecChange();
  void OnCaptureOption(int option);
  void OnChange();
  void OnView();
  void ShowPath();
  int FormatCount() const { return 3; }

  // RegionEdits: the four number edits.
  int32_t Read(Field field) override;
  void Write(Field field, int32_t value) override;

  RecorderParts* parts_;
  VideoSettings settings_;
  FrameRateConfirmation fps_;
  PageHotKey start_, pause_;
  std::vector<CodecChoice> choices_;
  bool formats_filled_ = false;
};

}  // namespace kmr::win
