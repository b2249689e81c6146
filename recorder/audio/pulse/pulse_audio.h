// Sound capture on Linux through PulseAudio: the devices are the server's
// sources (the monitor of an output is a source too, so the computer's own
// sound can be recorded), the inputs of a device are its ports (a source
// without ports is its own one input), and the volume of an input is its
// source's volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/audio/capture_device.h"

struct pa_mainloop;
struct pa_context;
struct pa_stream;

namespace kmr {

struct PulseSource {
  uint32_t index = 0;
  std::string name;         // what --audio takes
  std::string description;  // what people read
  bool is_monitor = false;
  std::vector<std::string> ports;
  std::string active_port;
};

// The server's sources in index order; false (with *error) when the
// server cannot be reached.
bool ListPulseSources(std::vector<PulseSource>* sources, std::string* error);
// The name of the default sink's monitor source, or empty.
std::string DefaultMonitorSource();

// The recording stream runs on a main loop of its own, driven by the
// thread that reads: a read waits at most a buffer's duration and a little
// more, so a source that stalls never holds up the recorder's stop.
class PulseCaptureDevice : public CaptureDevice {
 public:
  ~PulseCaptureDevice() override { Close(); }
  // Source names, in the order of ListPulseSources.
  bool ListDevices(std::vector<std::string>* names) override;
  bool Open(int32_t device, const PcmFormat& format, uint32_t buffer_bytes, uint32_t buffer_count) override;
  bool NextBuffer(const uint8_t** data, uint32_t* size) override;
  void Close() override;
  std::string Error() const override { return error_; }

 private:
  // Runs the loop once, waiting at most timeout_ms; false when the server
  // or the stream failed.
  bool Iterate(int timeout_ms);
  bool Failed(const std::string& what);

  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  uint32_t wait_ms_ = 0;
  std::vector<uint8_t> buffer_;
  size_t filled_ = 0;
  std::vector<uint8_t> carry_;
  std::string error_;
};

class PulseMixer : public AudioMixer {
 public:
  bool ReadInputs(int32_t device, std::vector<std::string>* names, std::vector<bool>* selected) override;
  bool WriteSelection(int32_t device, const std::vector<bool>& selected) override;
  bool ReadVolume(int32_t device, const std::string& input, Volume* volume) override;
  bool WriteVolume(int32_t device, const std::string& input, const std::vector<uint32_t>& raw) override;
};

}  // namespace kmr
