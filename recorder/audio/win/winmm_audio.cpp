#include "recorder/audio/win/winmm_audio.h"

#include <cstring>

namespace kmr {

// ---- wave input

bool WaveInDevice::ListDevices(std::vector<std::string>* names) {
  names->clear();
  const UINT n = waveInGetNumDevs();
  if (n == 0) return false;
  for (UINT i = 0; i < n; ++i) {
    WAVEINCAPSA caps{};
    if (waveInGetDevCapsA(i, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return false;
    names->push_back(caps.szPname);
  }
  return true;
}

bool WaveInDevice::Queue(size_t i) {
  WAVEHDR& h = headers_[i];
  HGLOBAL memory = reinterpret_cast<HGLOBAL>(h.dwUser);
  void* data = GlobalLock(memory);
  if (data == nullptr) return false;  // not queued again; capture goes on with the others
  h.lpData = static_cast<LPSTR>(data);
  std::memset(data, 0, buffer_bytes_);
  h.dwBufferLength = buffer_bytes_;
  h.dwBytesRecorded = 0;
  h.dwFlags = 0;
  if (waveInPrepareHeader(device_, &h, sizeof(h)) != MMSYSERR_NOERROR ||
      waveInAddBuffer(device_, &h, sizeof(h)) != MMSYSERR_NOERROR) {
    waveInUnprepareHeader(device_, &h, sizeof(h));
    GlobalUnlock(memory);
    h.lpData = nullptr;
    return false;
  }
  return true;
}

void WaveInDevice::QueueFree() {
  for (size_t i : ring_.ToQueue()) {
    if (Queue(i)) ring_.Queued(i);  // one that cannot be queued is tried at the next turn
  }
}

// Unprepares and unlocks a buffer; it is free again.
void WaveInDevice::Release(size_t i) {
  WAVEHDR& h = headers_[i];
  if (h.lpData == nullptr) return;
  waveInUnprepareHeader(device_, &h, sizeof(h));
  GlobalUnlock(reinterpret_cast<HGLOBAL>(h.dwUser));
  h.lpData = nullptr;
}

bool WaveInDevice::Open(int32_t device, const PcmFormat& format, uint32_t buffer_bytes, uint32_t buffer_count) {
  Close();
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = format.channels;
  f.nSamplesPerSec = format.samples_per_second;
  f.wBitsPerSample = format.bits_per_sample;
  f.nBlockAlign = format.BlockAlign();
  f.nAvgBytesPerSec = format.BytesPerSecond();
  // Thread notification: the done messages come to this (the worker)
  // thread, whose message queue is made here if it has none yet.
  MSG m;
  PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  const UINT id = device < 0 ? WAVE_MAPPER : static_cast<UINT>(device);
  const MMRESULT rc = waveInOpen(&device_, id, &f, GetCurrentThreadId(), 0, CALLBACK_THREAD);
  if (rc != MMSYSERR_NOERROR) {
    device_ = nullptr;
    error_ = "cannot open the sound device (error " + std::to_string(rc) + ")";
    return false;
  }
  buffer_bytes_ = buffer_bytes;
  // A buffer's time and then some before a silent device counts as stalled.
  wait_ms_ = static_cast<DWORD>(static_cast<uint64_t>(buffer_bytes) * 1000 / (f.nAvgBytesPerSec ? f.nAvgBytesPerSec : 1)) + 1000;
  headers_.assign(buffer_count, WAVEHDR{});
  ring_ = CaptureRing(buffer_count);
  for (size_t i = 0; i < headers_.size(); ++i) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, buffer_bytes);
    headers_[i].dwUser = reinterpret_cast<DWORD_PTR>(memory);
    if (memory == nullptr || !Queue(i)) {
      error_ = "cannot queue the sound buffers";
      Close();
      return false;
    }
    ring_.Queued(i);
  }
  delivered_ = -1;
  if (waveInStart(device_) != MMSYSERR_NOERROR) {
    error_ = "cannot start the sound device";
    Close();
    return false;
  }
  return true;
}

bool WaveInDevice::NextBuffer(const uint8_t** data, uint32_t* size) {
  *size = 0;
  if (device_ == nullptr) return false;
  if (delivered_ >= 0) {
    // The caller is done with the buffer it held: free to be queued again.
    GlobalUnlock(reinterpret_cast<HGLOBAL>(headers_[static_cast<size_t>(delivered_)].dwUser));
    ring_.Released(static_cast<size_t>(delivered_));
    delivered_ = -1;
  }
  const DWORD start = GetTickCount();
  for (;;) {
    MSG m;
    if (!PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
      const DWORD waited = GetTickCount() - start;
      if (waited >= wait_ms_) return true;  // nothing: the caller looks at its flags again
      MsgWaitForMultipleObjects(0, nullptr, FALSE, wait_ms_ - waited, QS_ALLPOSTMESSAGE);
      continue;
    }
    if (m.message != MM_WIM_DATA || m.lParam == 0) continue;
    const auto* done = reinterpret_cast<const WAVEHDR*>(m.lParam);
    size_t n = headers_.size();
    for (size_t i = 0; i < headers_.size(); ++i) {
      if (headers_[i].lpData != nullptr && headers_[i].lpData == done->lpData) n = i;
    }
    // Only a buffer the device held: a stale notice changes nothing.
    if (n == headers_.size() || ring_.At(n) != CaptureRing::State::kQueued) continue;
    const uint32_t recorded = headers_[n].dwBytesRecorded;
    Release(n);
    ring_.Done(n, recorded != 0);
    // Every free buffer goes back to the device, in ring order: in steady
    // state the one the caller gave back, so the device holds all but one;
    // a buffer that came back empty goes back at once.
    QueueFree();
    if (recorded == 0) continue;
    void* block = GlobalLock(reinterpret_cast<HGLOBAL>(headers_[n].dwUser));
    if (block == nullptr) {
      ring_.Released(n);
      continue;
    }
    delivered_ = static_cast<long>(n);
    *data = static_cast<const uint8_t*>(block);
    *size = recorded;
    return true;
  }
}

void WaveInDevice::Close() {
  if (device_ != nullptr) waveInReset(device_);
  if (delivered_ >= 0) GlobalUnlock(reinterpret_cast<HGLOBAL>(headers_[static_cast<size_t>(delivered_)].dwUser));
  delivered_ = -1;
  for (size_t i = 0; i < headers_.size(); ++i) {
    if (device_ != nullptr) Release(i);
    if (headers_[i].dwUser != 0) GlobalFree(reinterpret_cast<HGLOBAL>(headers_[i].dwUser));
  }
  headers_.clear();
  ring_ = CaptureRing(0);
  if (device_ != nullptr) waveInClose(device_);
  device_ = nullptr;
}

// ---- mixer

namespace {

// The device's mixer and its wave-in destination line, closed on leaving.
class WaveInLine {
 public:
  explicit WaveInLine(int32_t device) {
    if (device < 0) return;
    if (mixerOpen(&mixer_, static_cast<UINT>(device), 0, 0, MIXER_OBJECTF_WAVEIN) != MMSYSERR_NOERROR) {
      mixer_ = nullptr;
      return;
    }
    line_.cbStruct = sizeof(line_);
    line_.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    ok_ = mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(mixer_), &line_, MIXER_GETLINEINFOF_COMPONENTTYPE) ==
          MMSYSERR_NOERROR;
  }
  ~WaveInLine() {
    if (mixer_ != nullptr) mixerClose(mixer_);
  }
  bool Ok() const { return ok_; }
  HMIXEROBJ Mixer() const { return reinterpret_cast<HMIXEROBJ>(mixer_); }
  const MIXERLINEA& Line() const { return line_; }

  bool Control(DWORD line_id, DWORD type, MIXERCONTROLA* control) const {
    MIXERLINECONTROLSA c{};
    c.cbStruct = sizeof(c);
    c.dwLineID = line_id;
    c.dwControlType = type;
    c.cControls = 1;
    c.cbmxctrl = sizeof(*control);
    c.pamxctrl = control;
    control->cbStruct = sizeof(*control);
    return mixerGetLineControlsA(Mixer(), &c, MIXER_GETLINECONTROLSF_ONEBYTYPE) == MMSYSERR_NOERROR;
  }
  // The multiplexer control of the destination, or its mixer control.
  bool InputControl(MIXERCONTROLA* control) const {
    return Control(line_.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, control) ||
           Control(line_.dwLineID, MIXERCONTROL_CONTROLTYPE_MIXER, control);
  }

 private:
  HMIXER mixer_ = nullptr;
  MIXERLINEA line_{};
  bool ok_ = false;
};

bool Details(HMIXEROBJ mixer, const MIXERCONTROLA& control, DWORD channels, DWORD items, DWORD size, void* data,
             DWORD flags, bool write) {
  MIXERCONTROLDETAILS d{};
  d.cbStruct = sizeof(d);
  d.dwControlID = control.dwControlID;
  d.cChannels = channels;
  d.cMultipleItems = items;
  d.cbDetails = size;
  d.paDetails = data;
  return (write ? mixerSetControlDetails(mixer, &d, flags) : mixerGetControlDetailsA(mixer, &d, flags)) ==
         MMSYSERR_NOERROR;
}

}  // namespace

bool WaveInMixer::ReadInputs(int32_t device, std::vector<std::string>* names, std::vector<bool>* selected) {
  names->clear();
  selected->clear();
  WaveInLine line(device);
  MIXERCONTROLA control{};
  if (!line.Ok() || !line.InputControl(&control) || control.cMultipleItems == 0 || control.cMultipleItems > 256) {
    return false;
  }
  std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(control.cMultipleItems);
  std::vector<MIXERCONTROLDETAILS_BOOLEAN> values(control.cMultipleItems);
  if (!Details(line.Mixer(), control, 1, control.cMultipleItems, sizeof(texts[0]), texts.data(),
               MIXER_GETCONTROLDETAILSF_LISTTEXT, false) ||
      !Details(line.Mixer(), control, 1, control.cMultipleItems, sizeof(values[0]), values.data(),
               MIXER_GETCONTROLDETAILSF_VALUE, false)) {
    return false;
  }
  for (DWORD i = 0; i < control.cMultipleItems; ++i) {
    names->push_back(texts[i].szName);
    selected->push_back(values[i].fValue != 0);
  }
  return true;
}

bool WaveInMixer::WriteSelection(int32_t device, const std::vector<bool>& selected) {
  WaveInLine line(device);
  MIXERCONTROLA control{};
  if (!line.Ok() || !line.InputControl(&control) || selected.size() != control.cMultipleItems) return false;
  std::vector<MIXERCONTROLDETAILS_BOOLEAN> values(selected.size());
  for (size_t i = 0; i < selected.size(); ++i) values[i].fValue = selected[i] ? 1 : 0;
  return Details(line.Mixer(), control, 1, control.cMultipleItems, sizeof(values[0]), values.data(),
                 MIXER_SETCONTROLDETAILSF_VALUE, true);
}

namespace {
// The source line of the wave-in destination whose name matches, and its
// volume control.
bool FindVolume(const WaveInLine& line, const std::string& input, MIXERLINEA* source, MIXERCONTROLA* control,
                bool* has_control) {
  for (DWORD s = 0; s < line.Line().cConnections; ++s) {
    MIXERLINEA l{};
    l.cbStruct = sizeof(l);
    l.dwDestination = line.Line().dwDestination;
    l.dwSource = s;
    if (mixerGetLineInfoA(line.Mixer(), &l, MIXER_GETLINEINFOF_SOURCE) != MMSYSERR_NOERROR) return false;
    if (!SameInputName(l.szName, input)) continue;
    *source = l;
    *has_control = line.Control(l.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, control);
    return true;
  }
  return false;
}

DWORD ControlChannels(const MIXERLINEA& source, const MIXERCONTROLA& control) {
  if (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) return 1;
  return source.cChannels > 2 ? 2 : (source.cChannels == 0 ? 1 : source.cChannels);
}
}  // namespace

bool WaveInMixer::ReadVolume(int32_t device, const std::string& input, Volume* volume) {
  WaveInLine line(device);
  MIXERLINEA source{};
  MIXERCONTROLA control{};
  bool has = false;
  if (!line.Ok() || !FindVolume(line, input, &source, &control, &has)) return false;
  volume->has_control = has;
  if (!has) return true;
  const DWORD channels = ControlChannels(source, control);
  std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(channels);
  if (!Details(line.Mixer(), control, channels, 0, sizeof(values[0]), values.data(), MIXER_GETCONTROLDETAILSF_VALUE,
               false)) {
    return false;
  }
  volume->minimum = control.Bounds.dwMinimum;
  volume->maximum = control.Bounds.dwMaximum;
  volume->raw.clear();
  for (const auto& v : values) volume->raw.push_back(v.dwValue);
  return true;
}

bool WaveInMixer::WriteVolume(int32_t device, const std::string& input, const std::vector<uint32_t>& raw) {
  WaveInLine line(device);
  MIXERLINEA source{};
  MIXERCONTROLA control{};
  bool has = false;
  if (!line.Ok() || !FindVolume(line, input, &source, &control, &has)) return false;
  if (!has) return true;
  const DWORD channels = ControlChannels(source, control);
  if (raw.size() != channels) return false;
  std::vector<MIXERCONTROLDETAILS_UNSIGNED> values(channels);
  for (DWORD c = 0; c < channels; ++c) values[c].dwValue = raw[c];
  return Details(line.Mixer(), control, channels, 0, sizeof(values[0]), values.data(), MIXER_SETCONTROLDETAILSF_VALUE,
                 true);
}

}  // namespace kmr
