// The lossy screen codec as the capture's frame encoder: R1 holds the last
// coded picture of every tile, and each frame codes the tiles that changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/codecs/frame_encoder.h"
#include "recorder/codecs/lossy/lossy_tile_encoder.h"

namespace kmr {

class LossyFrameEncoder : public FrameEncoder {
 public:
  static constexpr const char* kName = "Norvane Screen Video (Lossy)";

  // api: the library's entry points to use instead of the process's own
  // (a library loaded by name; tests).
  explicit LossyFrameEncoder(const XvidApi* api = nullptr) : api_(api) {}

  const char* Name() const override { return kName; }
  uint32_t FourCc() const override;
  bool KeepsScreenFormat() const override { return false; }
  bool Start(int32_t width, int32_t height, uint32_t bytes_per_pixel, std::string* error) override;
  void Stop() override;
  bool Encode(const EncoderInput& in) override;
  // Lossy packets are never marked as key frames.
  bool IsKeyFrame() const override { return false; }
  const uint8_t* PacketData() const override { return packet_.data(); }
  uint32_t PacketLength() const override { return static_cast<uint32_t>(packet_.size()); }

  const PlaneView& R1() const { return r1_.view(); }
  size_t TileEncoders() const { return tiles_.TileEncoders(); }

 private:
  const XvidApi* api_;
  LossyTileEncoder tiles_;
  Plane r1_;
  std::vector<uint8_t> packet_;
};

// Whether this machine can record and play the lossy codec; *why says what
// is missing when it cannot.
bool LossyCodecAvailable(std::string* why);

}  // namespace kmr
