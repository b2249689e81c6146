// Where recorded sound comes from: a wave-input device (WinMM on Windows, a
// PulseAudio source on Linux) delivering fixed-size buffers of PCM, and the
// mixer that chooses the device's recording input and its volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmr {

struct PcmFormat {
  uint16_t channels = 2;
  uint32_t samples_per_second = 44100;
  uint16_t bits_per_sample = 16;
  uint16_t BlockAlign() const { return static_cast<uint16_t>(bits_per_sample * channels / 8); }
  uint32_t BytesPerSecond() const { return samples_per_second * BlockAlign(); }
};

class CaptureDevice {
 public:
  virtual ~CaptureDevice() = default;
  // The devices' names in id order; false when there are none or one cannot
  // be read.
  virtual bool ListDevices(std::vector<std::string>* names) = 0;
  // device: an id from the list, or -1 for the system's default. Starts
  // capturing into buffer_count buffers of buffer_bytes each.
  virtual bool Open(int32_t device, const PcmFormat& format, uint32_t buffer_bytes, uint32_t buffer_count) = 0;
  // Waits for the next filled buffer (at most about one buffer's duration
  // past its end); *data stays valid until the next call. False when the
  // device failed; true with *size 0 when nothing came in time.
  virtual bool NextBuffer(const uint8_t** data, uint32_t* size) = 0;
  virtual void Close() = 0;
  // What went wrong last, for the user.
  virtual std::string Error() const { return {}; }
};

// A device's recording inputs and the volume of each.
class AudioMixer {
 public:
  struct Volume {
    bool has_control = false;    // false: the input has no volume to set
    uint32_t minimum = 0, maximum = 65535;
    std::vector<uint32_t> raw;   // the control's own units, one per channel it has
  };
  virtual ~AudioMixer() = default;
  // The inputs in order and which of them are selected now.
  virtual bool ReadInputs(int32_t device, std::vector<std::string>* names, std::vector<bool>* selected) = 0;
  virtual bool WriteSelection(int32_t device, const std::vector<bool>& selected) = 0;
  // The volume of the input with that name; false when no input matches or
  // the mixer cannot be read.
  virtual bool ReadVolume(int32_t device, const std::string& input, Volume* volume) = 0;
  virtual bool WriteVolume(int32_t device, const std::string& input, const std::vector<uint32_t>& raw) = 0;
};

// Input names as mixers give them: equal up to the end of the shorter, over
// at most 64 characters.
bool SameInputName(const std::string& a, const std::string& b);

}  // namespace kmr
