#include "recorder/audio/input_mixer.h"

#include <algorithm>

namespace kmr {

bool SameInputName(const std::string& a, const std::string& b) {
  const size_t n = std::min<size_t>({a.size(), b.size(), 64});
  return a.compare(0, n, b, 0, n) == 0;
}

bool InputMixer::ListInputs(int32_t device, std::vector<std::string>* names) {
  names->clear();
  if (device < 0) return true;
  std::vector<bool> selected;
  return mixer_->ReadInputs(device, names, &selected);
}

bool InputMixer::Select(int32_t device, int32_t input) {
  if (device < 0 || input < 0) return true;
  std::vector<std::string> names;
  std::vector<bool> selected;
  if (!mixer_->ReadInputs(device, &names, &selected) || selected.empty()) return false;
  if (saved_input_ < 0) {
    // Only the first selected input is kept; the item count when none is.
    const auto first = std::find(selected.begin(), selected.end(), true);
    saved_input_ = static_cast<int32_t>(first - selected.begin());
  }
  std::vector<bool> values(selected.size(), false);
  values[std::min<size_t>(static_cast<size_t>(input), values.size() - 1)] = true;
  return mixer_->WriteSelection(device, values);
}

bool InputMixer::SetVolume(int32_t device, int32_t input, uint32_t left, uint32_t right) {
  if (device < 0 || input < 0) return true;
  std::vector<std::string> names;
  if (!ListInputs(device, &names) || names.empty()) return false;
  const std::string& name = names[std::min<size_t>(static_cast<size_t>(input), names.size() - 1)];
  AudioMixer::Volume v;
  if (!mixer_->ReadVolume(device, name, &v)) return false;
  if (!v.has_control || v.raw.empty()) return true;  // nothing to set
  if (saved_raw_.empty()) {
    saved_raw_ = v.raw;
    saved_name_ = name;
  }
  const uint32_t scale[2] = {std::min<uint32_t>(left, 65535), std::min<uint32_t>(right, 65535)};
  std::vector<uint32_t> raw(v.raw.size());
  for (size_t c = 0; c < raw.size(); ++c) {
    const uint64_t range = v.maximum >= v.minimum ? v.maximum - v.minimum : 0;
    const uint64_t value = v.minimum + scale[c % 2] * range / 65535;
    raw[c] = static_cast<uint32_t>(std::clamp<uint64_t>(value, v.minimum, std::max(v.minimum, v.maximum)));
  }
  return mixer_->WriteVolume(device, name, raw);
}

bool InputMixer::Restore(int32_t device) {
  bool ok = true;
  if (device >= 0 && saved_input_ >= 0) {
    std::vector<std::string> names;
    std::vector<bool> selected;
    if (mixer_->ReadInputs(device, &names, &selected) && !selected.empty()) {
      // Saved "none selected" (the item count) clears them all again.
      std::vector<bool> values(selected.size(), false);
      if (static_cast<size_t>(saved_input_) < values.size()) values[static_cast<size_t>(saved_input_)] = true;
      ok = mixer_->WriteSelection(device, values) && ok;
    } else {
      ok = false;
    }
  }
  if (device >= 0 && !saved_raw_.empty()) ok = mixer_->WriteVolume(device, saved_name_, saved_raw_) && ok;
  saved_input_ = -1;
  saved_raw_.clear();
  saved_name_.clear();
  return ok;
}

}  // namespace kmr
