// Sound capture on Windows: a WinMM wave-input device keeping a ring of
// buffers queued, its done messages arriving in the capturing thread's own
// queue; and the device's mixer, whose wave-in destination has a
// multiplexer (or mixer) control choosing the recording input and a volume
// control per input line.
#pragma once

#include <windows.h>
// After windows.h: the multimedia header leans on its types.
#include <mmsystem.h>

#include <vector>

#include "recorder/audio/capture_device.h"
#include "recorder/audio/capture_ring.h"

namespace kmr {

class WaveInDevice : public CaptureDevice {
 public:
  ~WaveInDevice() override { Close(); }
  bool ListDevices(std::vector<std::string>* names) override;
  // On the thread that then calls NextBuffer: the done messages come to it.
  bool Open(int32_t device, const PcmFormat& format, uint32_t buffer_bytes, uint32_t buffer_count) override;
  bool NextBuffer(const uint8_t** data, uint32_t* size) override;
  void Close() override;
  std::string Error() const override { return error_; }

 private:
  bool Queue(size_t i);
  void Release(size_t i);
  // Hands every free buffer to the device.
  void QueueFree();

  HWAVEIN device_ = nullptr;
  std::vector<WAVEHDR> headers_;
  CaptureRing ring_{0};
  uint32_t buffer_bytes_ = 0;
  DWORD wait_ms_ = 1000;
  long delivered_ = -1;  // the buffer the caller holds, locked
  std::string error_;
};

class WaveInMixer : public AudioMixer {
 public:
  bool ReadInputs(int32_t device, std::vector<std::string>* names, std::vector<bool>* selected) override;
  bool WriteSelection(int32_t device, const std::vector<bool>& selected) override;
  bool ReadVolume(int32_t device, const std::string& input, Volume* volume) override;
  bool WriteVolume(int32_t device, const std::string& input, const std::vector<uint32_t>& raw) override;
};

}  // namespace kmr
