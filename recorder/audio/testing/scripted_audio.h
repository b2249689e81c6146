// A capture device fed by the test, and a mixer with inputs and a volume
// control of the test's choosing.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/sync/sync.h"
#include "recorder/audio/capture_device.h"
#include "shared/event.h"

namespace kmr::testing {

class ScriptedCaptureDevice : public CaptureDevice {
 public:
  bool ListDevices(std::vector<std::string>* names) override {
    *names = {"Line In Card", "USB Microphone"};
    return true;
  }
  bool Open(int32_t device, const PcmFormat& format, uint32_t buffer_bytes, uint32_t) override {
    platform::MutexLock l(mu_);
    opened_device = device;
    opened_format = format;
    opened_bytes = buffer_bytes;
    open = !refuse_open;
    return open;
  }
  // Hands one buffer of that byte to the recorder; false when it was not
  // taken within 30 s.
  bool Deliver(uint8_t fill) {
    {
      platform::MutexLock l(mu_);
      queue_.push_back(std::vector<uint8_t>(opened_bytes, fill));
      taken_.Reset();
    }
    ready_.Set();
    return taken_.Wait(30000);
  }
  bool NextBuffer(const uint8_t** data, uint32_t* size) override {
    *size = 0;
    if (!ready_.Wait(20)) return true;
    platform::MutexLock l(mu_);
    if (queue_.empty()) {
      ready_.Reset();
      return true;
    }
    current_ = std::move(queue_.front());
    queue_.pop_front();
    if (queue_.empty()) ready_.Reset();
    *data = current_.data();
    *size = static_cast<uint32_t>(current_.size());
    taken_.Set();
    return !fail_next;
  }
  void Close() override {
    platform::MutexLock l(mu_);
    open = false;
    ++closes;
  }

  uint32_t StartDelayMs() const override { return start_delay_ms; }

  uint32_t start_delay_ms = 0;
  int32_t opened_device = -2;
  PcmFormat opened_format;
  uint32_t opened_bytes = 0;
  bool open = false;
  bool refuse_open = false;
  bool fail_next = false;
  int closes = 0;

 private:
  platform::Mutex mu_;
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<uint8_t> current_;
  ManualResetEvent ready_;
  ManualResetEvent taken_;
};

class ScriptedMixer : public AudioMixer {
 public:
  std::vector<std::string> names = {"CD Player", "Microphone", "Line In"};
  std::vector<bool> selected = {false, true, false};
  Volume volume;  // the volume of every input
  std::string volume_written_for;
  int calls = 0;
  ScriptedMixer() {
    volume.has_control = true;
    volume.minimum = 0;
    volume.maximum = 100;
    volume.raw = {40, 60};
  }
  bool ReadInputs(int32_t, std::vector<std::string>* n, std::vector<bool>* s) override {
    ++calls;
    *n = names;
    *s = selected;
    return true;
  }
  bool WriteSelection(int32_t, const std::vector<bool>& s) override {
    ++calls;
    selected = s;
    return true;
  }
  bool ReadVolume(int32_t, const std::string& input, Volume* v) override {
    ++calls;
    for (const auto& n : names) {
      if (SameInputName(n, input)) {
        *v = volume;
        return true;
      }
    }
    return false;
  }
  bool WriteVolume(int32_t, const std::string& input, const std::vector<uint32_t>& raw) override {
    ++calls;
    volume.raw = raw;
    volume_written_for = input;
    return true;
  }
};

}  // namespace kmr::testing
