// The lossless screen codec's frame decoder: runs of row commands.
#pragma once

#include "player/codecs/frame_decoder.h"
#include "player/codecs/lossless_decoder.h"

namespace kmr {

class LosslessFrameDecoder : public FrameDecoder {
 public:
  bool SetFormat(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride) override {
    return decoder_.SetFormat(width, height, bytes_per_pixel, stride);
  }
  void Restart() override { decoder_.Restart(); }
  bool Decode(const uint8_t* packet, size_t length, const ChangeSink& changed) override {
    if (!changed) return decoder_.Decode(packet, length);
    return decoder_.Decode(packet, length,
                           [&changed](int32_t x, int32_t y, int32_t n) { changed(Rect{x, y, x + n, y + 1}); });
  }
  const PlaneView& Picture() const override { return decoder_.Picture(); }
  const std::string& Error() const override { return decoder_.Error(); }

 private:
  LosslessDecoder decoder_;
};

}  // namespace kmr
