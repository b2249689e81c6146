// The lossless screen codec as the capture's frame encoder: row commands
// against three reference planes, with a key frame when one is requested and
// after every key interval's worth of command bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "recorder/codecs/frame_encoder.h"
#include "recorder/codecs/lossless_encoder.h"

namespace kmr {

class LosslessFrameEncoder : public FrameEncoder {
 public:
  static constexpr const char* kName = "Norvane Screen Video (Lossless)";

  // desktop: where the pointer, foreground window and button state come from.
  explicit LosslessFrameEncoder(platform::DesktopState* desktop) : encoder_(desktop) {}

  const char* Name() const override { return kName; }
  uint32_t FourCc() const override;
  bool KeepsScreenFormat() const override { return true; }
  bool Start(int32_t width, int32_t height, uint32_t bytes_per_pixel, std::string* error) override;
  void Stop() override;
  void SetKeyInterval(uint64_t bytes) override { key_interval_ = bytes; }
  bool Encode(const EncoderInput& in) override;
  bool IsKeyFrame() const override { return key_frame_; }
  const uint8_t* PacketData() const override { return encoder_.PacketData(); }
  uint32_t PacketLength() const override { return encoder_.PacketLength(); }

  uint64_t BytesSinceKeyFrame() const { return bytes_since_key_; }
  const PlaneView& Reference(int i) const { return i == 1 ? r1_.view() : i == 2 ? r2_.view() : r3_.view(); }
  LosslessEncoder& Coder() { return encoder_; }

 private:
  LosslessEncoder encoder_;
  Plane r1_, r2_, r3_;
  std::vector<uint8_t> scratch_;
  bool key_frame_ = false;
  uint64_t key_interval_ = 0;
  uint64_t bytes_since_key_ = 0;
};

}  // namespace kmr
