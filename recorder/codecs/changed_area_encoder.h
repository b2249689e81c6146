// The frame step for an installed compressor: the recorded area as a raw
// bottom-up 32-bit image (the bitmap layout compressors take), made only
// when something in it changed since the last frame, so that an unchanged
// frame costs the compressor nothing.
#pragma once

#include <vector>

#include "recorder/codecs/frame_encoder.h"

namespace kmr {

class ChangedAreaEncoder : public FrameEncoder {
 public:
  const char* Name() const override { return "changed area, uncompressed"; }
  uint32_t FourCc() const override { return 0; }  // BI_RGB
  bool KeepsScreenFormat() const override { return false; }
  bool Start(int32_t width, int32_t height, uint32_t bytes_per_pixel, std::string* error) override;
  void Stop() override;
  // The packet is the whole area when it changed or a key frame is asked
  // for; empty otherwise.
  bool Encode(const EncoderInput& in) override;
  bool IsKeyFrame() const override { return key_; }
  const uint8_t* PacketData() const override { return image_.data(); }
  uint32_t PacketLength() const override { return length_; }

 private:
  std::vector<uint8_t> image_;
  uint32_t length_ = 0;
  bool key_ = false;
};

}  // namespace kmr
