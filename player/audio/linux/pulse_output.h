// Sound output on Linux: a PulseAudio playback stream on the default sink,
// driven from its own threaded main loop so that pause, restart and reset
// act at once while the decoder writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "player/audio/audio_output.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;

namespace kmr {

class PulseOutput : public SoundOutput {
 public:
  ~PulseOutput() override { Close(); }
  bool Open(uint32_t samples_per_second, uint16_t channels) override;
  bool Write(const int16_t* samples, uint32_t frames) override;
  void Pause() override;
  void Restart() override;
  void Reset() override;
  bool PlayedOut() override;
  void Interrupt() override;
  void Close() override;
  bool IsOpen() const override { return stream_ != nullptr; }
  std::string Error() const override { return error_; }

 private:
  bool Fail(const std::string& what);
  void Cork(bool on);
  // Called with the loop locked.
  void DropDrain();

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  uint32_t frame_bytes_ = 4;
  // The drain asked for by PlayedOut, and how long it has run unpaused.
  pa_operation* drain_ = nullptr;
  bool corked_ = false;
  int64_t drain_started_ms_ = 0;
  std::atomic<bool> interrupted_{false};
  std::string error_;
};

}  // namespace kmr
