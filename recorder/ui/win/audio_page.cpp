#include "recorder/ui/win/audio_page.h"

#include <string>
#include <vector>

#include "recorder/audio/mp3_encoder.h"
#include "recorder/audio/win/sound_settings.h"
#include "recorder/ui/pages/page_rules.h"
#include "recorder/ui/win/kelvo_resource.h"
#include "recorder/ui/win/win_ui.h"

namespace kmr::win {

namespace {
constexpr int kSoundControls[] = {IDC_DEVICE, IDC_DEVICE_CONFIG, IDC_INPUT, IDC_INPUT_CONFIG,
                                  IDC_SAMPLE_RATE, IDC_QUALITY, IDC_VOLUME};
constexpr const char* kQualities[10] = {" 0 - Very High", " 1 ", " 2 - High", " 3 ", " 4 ",
                                        " 5 - Normal", " 6 ", " 7 ", " 8 ", " 9 - Low"};
}  // namespace

AudioPage::AudioPage(SheetHost* host, SettingsStore* store, RecorderParts* parts)
    : SettingsPage(IDD_AUDIO, host, store), parts_(parts) {
  settings_.Load(store);
}

bool AudioPage::HaveDevices() {
  std::vector<std::string> names;
  return parts_->SoundRecorder().ListDevices(&names) && !names.empty();
}

void AudioPage::OnInit() {
  SendDlgItemMessageA(hwnd_, IDC_VOLUME, TBM_SETRANGE, FALSE, MAKELPARAM(0, 65535));
  SendDlgItemMessageA(hwnd_, IDC_VOLUME, TBM_SETPAGESIZE, 0, 6553);
  FillDevices();
  for (uint32_t rate : Mp3Encoder::kRates) AddItem(hwnd_, IDC_SAMPLE_RATE, std::to_string(rate) + " Hz", rate);
  Select(hwnd_, IDC_SAMPLE_RATE, settings_.sample_rate = Clamp(settings_.sample_rate, ItemCount(hwnd_, IDC_SAMPLE_RATE)));
  for (const char* q : kQualities) AddItem(hwnd_, IDC_QUALITY, q, 0);
  Select(hwnd_, IDC_QUALITY, settings_.quality = Clamp(settings_.quality, ItemCount(hwnd_, IDC_QUALITY)));
  SendDlgItemMessageA(hwnd_, IDC_VOLUME, TBM_SETPOS, TRUE, settings_.volume);
  OnRecordAudio(settings_.record_audio != 0);
}

void AudioPage::FillDevices() {
  {
    Quiet quiet(this);
    ClearItems(hwnd_, IDC_DEVICE);
    AddItem(hwnd_, IDC_DEVICE, page_texts::kDefaultDevice, -1);
    std::vector<std::string> names;
    parts_->SoundRecorder().ListDevices(&names);
    for (size_t i = 0; i < names.size(); ++i) AddItem(hwnd_, IDC_DEVICE, names[i], static_cast<intptr_t>(i));
    settings_.device = Clamp(settings_.device, ItemCount(hwnd_, IDC_DEVICE));
    Select(hwnd_, IDC_DEVICE, settings_.device);
  }
  OnDeviceChange(true);
}

void AudioPage::OnDeviceChange(bool restoring) {
  const int sel = Selection(hwnd_, IDC_DEVICE);
  if (sel < 0) return;
  settings_.device = sel;
  if (!restoring) settings_.input = -1;
  const int32_t device = static_cast<int32_t>(ItemData(hwnd_, IDC_DEVICE, sel));
  AudioRecorder& recorder = parts_->SoundRecorder();
  recorder.SetDevice(device);
  std::vector<std::string> inputs;
  recorder.ListInputs(&inputs);
  {
    Quiet quiet(this);
    ClearItems(hwnd_, IDC_INPUT);
    int first = 0;
    if (device == -1 || inputs.empty()) {
      AddItem(hwnd_, IDC_INPUT, page_texts::kDefaultInput, -1);
      first = 1;
    }
    for (size_t i = 0; i < inputs.size(); ++i) AddItem(hwnd_, IDC_INPUT, inputs[i], static_cast<intptr_t>(i));
    if (settings_.input < 0) settings_.input = inputs.empty() ? 0 : first + BestInput(inputs);
    settings_.input = Clamp(settings_.input, ItemCount(hwnd_, IDC_INPUT));
    Select(hwnd_, IDC_INPUT, settings_.input);
  }
  Enable(hwnd_, IDC_DEVICE_CONFIG, device == -1 && IsChecked(hwnd_, IDC_RECORD_AUDIO));
  OnInputChange();
  SetModified();
}

void AudioPage::OnInputChange() {
  const int sel = Selection(hwnd_, IDC_INPUT);
  if (sel < 0) return;
  settings_.input = sel;
  const int32_t input = static_cast<int32_t>(ItemData(hwnd_, IDC_INPUT, sel));
  parts_->SoundRecorder().SetInput(input);
  const bool on = IsChecked(hwnd_, IDC_RECORD_AUDIO);
  Enable(hwnd_, IDC_INPUT_CONFIG, on && input == -1);
  Enable(hwnd_, IDC_VOLUME, on && input != -1);
  SetModified();
}

void AudioPage::SetRadios() {
  Check(hwnd_, IDC_RECORD_AUDIO, settings_.record_audio != 0);
  Check(hwnd_, IDC_NO_AUDIO, settings_.record_audio == 0);
}

void AudioPage::EnableControls(bool on) {
  for (int id : kSoundControls) Enable(hwnd_, id, on);
}

void AudioPage::OnRecordAudio(bool on) {
  if (on && !HaveDevices()) {
    // Said once, not again while it shows or just after it was closed.
    if (!saying_no_device_ && GetTickCount() - no_device_closed_at_ >= 1000) {
      saying_no_device_ = true;
      Say(GetParent(hwnd_), page_texts::kNoAudioDevice, MB_OK | MB_ICONERROR);
      saying_no_device_ = false;
      no_device_closed_at_ = GetTickCount();
    }
    on = false;
  }
  settings_.record_audio = on ? 1 : 0;
  SetRadios();
  EnableControls(on);
  if (on) FillDevices();
  SetModified();
}

bool AudioPage::OnCommand(int id, int code) {
  switch (id) {
    case IDC_RECORD_AUDIO:
    case IDC_NO_AUDIO:
      if (code == BN_CLICKED) OnRecordAudio(id == IDC_RECORD_AUDIO);
      return true;
    case IDC_DEVICE:
      if (code == CBN_SELCHANGE) OnDeviceChange(false);
      return true;
    case IDC_INPUT:
      if (code == CBN_SELCHANGE) OnInputChange();
      return true;
    case IDC_SAMPLE_RATE:
    case IDC_QUALITY:
      if (code == CBN_SELCHANGE) SetModified();
      return true;
    case IDC_DEVICE_CONFIG:
      if (!OpenDeviceSettings()) Say(GetParent(hwnd_), kDeviceSettingsFailed, MB_OK | MB_ICONERROR);
      return true;
    case IDC_INPUT_CONFIG:
      if (!OpenInputSettings()) Say(GetParent(hwnd_), kInputSettingsFailed, MB_OK | MB_ICONERROR);
      return true;
    default:
      return false;
  }
}

bool AudioPage::OnMessage(UINT msg, WPARAM, LPARAM lp) {
  if (msg != WM_VSCROLL || reinterpret_cast<HWND>(lp) != GetDlgItem(hwnd_, IDC_VOLUME)) return false;
  settings_.volume = static_cast<int32_t>(SendDlgItemMessageA(hwnd_, IDC_VOLUME, TBM_GETPOS, 0, 0));
  SetModified();
  return true;
}

bool AudioPage::Confirm() {
  if (hwnd_ == nullptr) return true;
  settings_.record_audio = IsChecked(hwnd_, IDC_RECORD_AUDIO) ? 1 : 0;
  settings_.device = Selection(hwnd_, IDC_DEVICE);
  settings_.input = Selection(hwnd_, IDC_INPUT);
  settings_.sample_rate = Selection(hwnd_, IDC_SAMPLE_RATE);
  settings_.quality = Selection(hwnd_, IDC_QUALITY);
  settings_.volume = static_cast<int32_t>(SendDlgItemMessageA(hwnd_, IDC_VOLUME, TBM_GETPOS, 0, 0));
  settings_.Save(store_);
  return true;
}

void AudioPage::ConfigureSound() {
  constexpr int kRateCount = static_cast<int>(sizeof(Mp3Encoder::kRates) / sizeof(Mp3Encoder::kRates[0]));
  if (hwnd_ != nullptr) {
    settings_.sample_rate = Selection(hwnd_, IDC_SAMPLE_RATE);
    settings_.quality = Selection(hwnd_, IDC_QUALITY);
    settings_.volume = static_cast<int32_t>(SendDlgItemMessageA(hwnd_, IDC_VOLUME, TBM_GETPOS, 0, 0));
  }
  RecorderSound& sound = parts_->Sound();
  sound.SetSampleRate(Mp3Encoder::kRates[Clamp(settings_.sample_rate, kRateCount)]);
  sound.SetQuality(Clamp(settings_.quality, 10));
  sound.SetVolumeSlider(static_cast<uint32_t>(settings_.volume < 0 ? 0 : settings_.volume));
}

}  // namespace kmr::win
