// A capture device fed by the test, and a mixer with inputs and a volume
// control of the test's choosing.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/sync/sync.h"
#include "recorder/audio/capture_device.h"
#include "recorder/control/testing/fake_capturer.h"
#include "shared/testing/wait.h"
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
  bool Deliver(uint8_t fill) { return Deliver(std::vector<uint8_t>(opened_bytes, fill)); }
  // A buffer of these bytes; with a clock, it arrives at arrival_ms on it,
  // and the call returns once the recorder is done with it (it asks for the
  // next one).
  bool Deliver(std::vector<uint8_t> bytes, uint32_t arrival_ms = 0) {
    uint64_t mine = 0;
    {
      platform::MutexLock l(mu_);
      queue_.push_back(std::move(bytes));
      arrivals_.push_back(arrival_ms);
      taken_.Reset();
      mine = ++queued_;
    }
    ready_.Set();
    if (!taken_.Wait(30000)) return false;
    if (clock == nullptr) return true;
    return WaitUntil([&] {
      platform::MutexLock l(mu_);
      return done_ >= mine;
    });
  }
  bool NextBuffer(const uint8_t** data, uint32_t* size) override {
    *size = 0;
    {
      // Asked again: the buffer handed out before is done with.
      platform::MutexLock l(mu_);
      done_ = handed_;
    }
    if (!ready_.Wait(20)) return true;
    platform::MutexLock l(mu_);
    if (queue_.empty()) {
      ready_.Reset();
      return true;
    }
    current_ = std::move(queue_.front());
    queue_.pop_front();
    if (clock != nullptr) clock->now.store(arrivals_.front());
    arrivals_.pop_front();
    ++handed_;
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

  // Set: each buffer arrives at its time on this clock.
  FakeClock* clock = nullptr;
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
  std::deque<uint32_t> arrivals_;
  uint64_t queued_ = 0, handed_ = 0, done_ = 0;
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
