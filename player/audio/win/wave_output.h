// Sound output on Windows: the wave mapper (the system's default output),
// fed blocks that it plays back to back. Finished blocks are taken back at
// the next write and at close.
#pragma once

#include <windows.h>
// After windows.h: the multimedia headers lean on its types.
#include <mmsystem.h>

#include <list>
#include <string>

#include "player/audio/audio_output.h"

namespace kmr {

class WaveOutput : public SoundOutput {
 public:
  ~WaveOutput() override { Close(); }
  bool Open(uint32_t samples_per_second, uint16_t channels) override;
  bool Write(const int16_t* samples, uint32_t frames) override;
  void Pause() override;
  void Restart() override;
  void Reset() override;
  bool PlayedOut() override;
  void Close() override;
  bool IsOpen() const override { return device_ != nullptr; }
  std::string Error() const override { return error_; }
  // Blocks handed to the device and not yet taken back.
  size_t Queued() const { return blocks_.size(); }

 private:
  void Reap();
  static void Free(WAVEHDR* h, HWAVEOUT device);

  HWAVEOUT device_ = nullptr;
  uint32_t block_align_ = 4;
  std::list<WAVEHDR*> blocks_;
  std::string error_;
};

}  // namespace kmr
