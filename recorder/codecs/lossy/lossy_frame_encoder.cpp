#include "recorder/codecs/lossy/lossy_frame_encoder.h"

#include <new>

#include "shared/container/container_format.h"

namespace kmr {

uint32_t LossyFrameEncoder::FourCc() const { return kFourCcLossy; }

bool LossyFrameEncoder::Start(int32_t width, int32_t height, uint32_t bytes_per_pixel, std::string* error) {
  Stop();
  if (bytes_per_pixel != 4) {
    if (error != nullptr) *error = "the lossy codec takes 32-bit frames only";
    return false;
  }
  if (api_ != nullptr) {
    tiles_.UseLibrary(api_);
  } else if (!tiles_.Init(error)) {
    return false;
  }
  try {
    r1_.Reset(width, height, bytes_per_pixel);
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = "not enough memory for the reference frame";
    return false;
  }
  return true;
}

void LossyFrameEncoder::Stop() {
  tiles_.Reset();
  r1_.Free();
  packet_ = {};
}

bool LossyFrameEncoder::Encode(const EncoderInput& in) {
  packet_.clear();
  if (!r1_.view().IsValid() || in.dirty_rects == nullptr || in.current.bytes_per_pixel != 4) return false;
  const PlaneView& r1 = r1_.view();
  if (in.current.width != r1.width || in.current.height != r1.height || in.area.left < 0 || in.area.top < 0 ||
      in.area.right > r1.width || in.area.bottom > r1.height) {
    return false;
  }
  const FrameView c{in.current.data, static_cast<int32_t>(in.current.stride)};
  const FrameView previous{r1.data, static_cast<int32_t>(r1.stride)};
  try {
    return tiles_.EncodeChangedTiles(c, previous, in.area, *in.dirty_rects, in.fps, &packet_, in.key_requested);
  } catch (const std::bad_alloc&) {
    packet_ = {};
    return false;
  }
}

bool LossyCodecAvailable(std::string* why) { return Xvid(why) != nullptr; }

}  // namespace kmr
