// Switches a device's recording input and sets its volume for a recording,
// and puts both back afterwards exactly as they were.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/audio/capture_device.h"

namespace kmr {

class InputMixer {
 public:
  explicit InputMixer(AudioMixer* mixer) : mixer_(mixer) {}

  // The inputs of a device (empty, and true, for the default device -1).
  bool ListInputs(int32_t device, std::vector<std::string>* names);
  // Selects input alone (clamped to the list), saving which one was
  // selected first; nothing for device or input -1.
  bool Select(int32_t device, int32_t input);
  // Sets the selected input's volume from the 0..65535 scale, saving the
  // raw values first; nothing for device or input -1.
  bool SetVolume(int32_t device, int32_t input, uint32_t left, uint32_t right);
  // Selects the saved input again and writes the saved raw volume back
  // unchanged; nothing when nothing was saved.
  bool Restore(int32_t device);

  int32_t SavedInput() const { return saved_input_; }
  bool HasSavedVolume() const { return !saved_raw_.empty(); }

 private:
  AudioMixer* mixer_;
  int32_t saved_input_ = -1;
  std::string saved_name_;  // the input whose volume was saved
  std::vector<uint32_t> saved_raw_;
};

}  // namespace kmr
