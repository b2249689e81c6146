// The Audio page: whether sound is recorded, from which device and input, at
// which rate and quality and how loud. It sets up the sound path for a
// recording.
#pragma once

#include "recorder/ui/settings/settings_pages.h"
#include "recorder/ui/win/recorder_parts.h"
#include "recorder/ui/win/settings_page.h"

namespace kmr::win {

class AudioPage : public SettingsPage {
 public:
  AudioPage(SheetHost* host, SettingsStore* store, RecorderParts* parts);

  bool Confirm() override;
  bool RecordAudio() const { return settings_.record_audio != 0; }
  // The sound path's device, input, rate, quality and volume.
  void ConfigureSound();

 protected:
  void OnInit() override;
  bool OnCommand(int id, int code) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void FillDevices();
  void OnDeviceChange(bool restoring);
  void OnInputChange();
  void OnRecordAudio(bool on);
  void EnableControls(bool on);
  void SetRadios();
  bool HaveDevices();

  RecorderParts* parts_;
  AudioSettings settings_;
  bool saying_no_device_ = false;
  DWORD no_device_closed_at_ = 0;
};

}  // namespace kmr::win
