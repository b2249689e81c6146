// MP3 decoding on Windows through the system's audio compression manager
// (the MP3 codec every Windows since 2000 has), fed packet by packet.
#pragma once

#include <windows.h>
// After windows.h: the multimedia headers lean on its types.
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include "player/audio/audio_output.h"

namespace kmr {

class AcmMp3Decoder : public Mp3Decoder {
 public:
  ~AcmMp3Decoder() override { Close(); }
  bool Open(uint32_t samples_per_second, uint16_t channels, const std::vector<uint8_t>& wave_format) override;
  int Decode(const uint8_t* data, uint32_t size, int16_t* left, int16_t* right, uint32_t capacity) override;
  void Close() override;

 private:
  bool Convert();

  HACMSTREAM stream_ = nullptr;
  uint16_t channels_ = 2;
  std::vector<uint8_t> input_;    // not yet taken by the codec
  std::vector<int16_t> pending_;  // decoded, not yet handed out
  std::vector<uint8_t> output_;
};

}  // namespace kmr
