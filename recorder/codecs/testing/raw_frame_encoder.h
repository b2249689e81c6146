// A frame step for tests: the capture only keeps the 32-bit working frame
// current and no packet is made.
#pragma once

#include "recorder/codecs/frame_encoder.h"

namespace kmr {

class RawFrameEncoder : public FrameEncoder {
 public:
  const char* Name() const override { return "uncompressed frames"; }
  uint32_t FourCc() const override { return 0; }  // BI_RGB
  bool KeepsScreenFormat() const override { return false; }
  bool Start(int32_t, int32_t, uint32_t, std::string*) override { return true; }
  void Stop() override {}
  bool Encode(const EncoderInput&) override { return true; }
  bool IsKeyFrame() const override { return false; }
  const uint8_t* PacketData() const override { return nullptr; }
  uint32_t PacketLength() const override { return 0; }
};

}  // namespace kmr
