#include "player/codecs/frame_decoder.h"

#include "player/codecs/lossless_frame_decoder.h"
#include "player/codecs/lossy/lossy_frame_decoder.h"
#include "shared/container/container_format.h"

namespace kmr {

std::unique_ptr<FrameDecoder> MakeFrameDecoder(uint32_t compression, std::string* error) {
  switch (compression) {
    case kFourCcLossless:
      return std::make_unique<LosslessFrameDecoder>();
    case kFourCcLossy: {
      auto lossy = std::make_unique<LossyFrameDecoder>();
      if (!lossy->Ready()) {
        *error = "lossy screen video cannot be played here: " + lossy->Error();
        return nullptr;
      }
      return lossy;
    }
    default:
      *error = "not a screen video format";
      return nullptr;
  }
}

}  // namespace kmr
