#include "player/audio/win/wave_output.h"

#include <cstring>
#include <new>

namespace kmr {

bool WaveOutput::Open(uint32_t samples_per_second, uint16_t channels) {
  Close();
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = samples_per_second;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<WORD>(channels * 2);
  f.nAvgBytesPerSec = samples_per_second * f.nBlockAlign;
  const MMRESULT rc = waveOutOpen(&device_, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL);
  if (rc != MMSYSERR_NOERROR) {
    device_ = nullptr;
    error_ = "no sound output (error " + std::to_string(rc) + ")";
    return false;
  }
  block_align_ = f.nBlockAlign;
  return true;
}

void WaveOutput::Free(WAVEHDR* h, HWAVEOUT device) {
  waveOutUnprepareHeader(device, h, sizeof(*h));
  HGLOBAL memory = reinterpret_cast<HGLOBAL>(h->dwUser);
  GlobalUnlock(memory);
  GlobalFree(memory);
  delete h;
}

void WaveOutput::Reap() {
  while (!blocks_.empty() && (blocks_.front()->dwFlags & WHDR_DONE) != 0) {
    Free(blocks_.front(), device_);
    blocks_.pop_front();
  }
}

bool WaveOutput::Write(const int16_t* samples, uint32_t frames) {
  if (device_ == nullptr) return false;
  Reap();
  const DWORD bytes = frames * block_align_;
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, bytes);
  void* data = memory != nullptr ? GlobalLock(memory) : nullptr;
  auto* h = data != nullptr ? new (std::nothrow) WAVEHDR{} : nullptr;
  if (h == nullptr) {
    if (data != nullptr) GlobalUnlock(memory);
    if (memory != nullptr) GlobalFree(memory);
    error_ = "out of memory for sound";
    return false;
  }
  std::memcpy(data, samples, bytes);
  h->lpData = static_cast<LPSTR>(data);
  h->dwBufferLength = bytes;
  h->dwUser = reinterpret_cast<DWORD_PTR>(memory);
  if (waveOutPrepareHeader(device_, h, sizeof(*h)) != MMSYSERR_NOERROR) {
    GlobalUnlock(memory);
    GlobalFree(memory);
    delete h;
    error_ = "the sound output refused a block";
    return false;
  }
  if (waveOutWrite(device_, h, sizeof(*h)) != MMSYSERR_NOERROR) {
    Free(h, device_);
    error_ = "the sound output refused a block";
    return false;
  }
  blocks_.push_back(h);
  return true;
}

void WaveOutput::Pause() {
  if (device_ != nullptr) waveOutPause(device_);
}

void WaveOutput::Restart() {
  if (device_ != nullptr) waveOutRestart(device_);
}

// Marks every queued block done; they are taken back at the next write.
void WaveOutput::Reset() {
  if (device_ != nullptr) waveOutReset(device_);
}

bool WaveOutput::PlayedOut() {
  if (device_ == nullptr) return true;
  Reap();
  return blocks_.empty();
}

void WaveOutput::Close() {
  if (device_ == nullptr) return;
  waveOutReset(device_);
  for (WAVEHDR* h : blocks_) Free(h, device_);
  blocks_.clear();
  waveOutClose(device_);
  device_ = nullptr;
}

}  // namespace kmr
