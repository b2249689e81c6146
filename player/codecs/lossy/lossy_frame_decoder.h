// The lossy screen codec's frame decoder: the picture P is 32-bit BGRX with
// even sides, and each chunk is decoded straight into its tile's place.
#pragma once

#include <string>

#include "player/codecs/frame_decoder.h"
#include "player/codecs/lossy/lossy_tile_decoder.h"

namespace kmr {

class LossyFrameDecoder : public FrameDecoder {
 public:
  // api: the library's entry points to use instead of the process's own (a
  // library loaded by name; tests).
  explicit LossyFrameDecoder(const XvidApi* api = nullptr);
  // False when the library cannot be started (Error() says why).
  bool Ready() const override { return ready_; }

  bool SetFormat(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride) override;
  bool Decode(const uint8_t* packet, size_t length, const ChangeSink& changed) override;
  const PlaneView& Picture() const override { return p_.view(); }
  const std::string& Error() const override { return error_; }
  uint32_t RequiredBytesPerPixel() const override { return 4; }
  void Restart() override {
    tiles_.Reset();  // new tile decoders with the next packet
    p_.Zero();
  }

 private:
  LossyTileDecoder tiles_;
  Plane p_;
  bool ready_ = false;
  std::string error_;
};

}  // namespace kmr
