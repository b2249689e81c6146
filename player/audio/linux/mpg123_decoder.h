// MP3 decoding on Linux with libmpg123, fed packet by packet.
#pragma once

#include "player/audio/audio_output.h"

struct mpg123_handle_struct;

namespace kmr {

class Mpg123Decoder : public Mp3Decoder {
 public:
  ~Mpg123Decoder() override { Close(); }
  bool Open(uint32_t samples_per_second, uint16_t channels, const std::vector<uint8_t>& wave_format) override;
  int Decode(const uint8_t* data, uint32_t size, int16_t* left, int16_t* right, uint32_t capacity) override;
  void Close() override;

 private:
  mpg123_handle_struct* handle_ = nullptr;
  uint16_t channels_ = 2;
  std::vector<int16_t> pcm_;
};

}  // namespace kmr
