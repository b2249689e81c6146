// Sound output on Linux: a PulseAudio playback stream on the default sink,
// driven from its own threaded main loop so that pause, restart and reset
// act at once while the decoder writes. Open, Write and Close come from the
// decoder's thread; the rest may come from any other while it runs, and
// never meet a loop that Close is freeing.
#pragma once

#include <atomic>
#include <mutex>
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
  bool IsOpen() const override;
  std::string Error() const override { return error_; }

 private:
  bool Fail(const std::string& what);
  void CloseLocked();
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
  // Held while the loop, context and stream are made, used from another
  // thread, or freed.
  std::mutex life_;
  std::string error_;
};

}  // namespace kmr
