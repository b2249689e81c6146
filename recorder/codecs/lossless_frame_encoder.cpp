#include "recorder/codecs/lossless_frame_encoder.h"

#include <new>

#include "shared/container/container_format.h"

namespace kmr {

uint32_t LosslessFrameEncoder::FourCc() const { return kFourCcLossless; }

bool LosslessFrameEncoder::Start(int32_t width, int32_t height, uint32_t bytes_per_pixel, std::string* error) {
  Stop();
  try {
    r1_.Reset(width, height, bytes_per_pixel);
    r2_.Reset(width, height, bytes_per_pixel);
    r3_.Reset(width, height, bytes_per_pixel);
    scratch_.assign(r1_.view().stride, 0);
  } catch (const std::bad_alloc&) {
    Stop();
    if (error != nullptr) *error = "not enough memory for the reference frames";
    return false;
  }
  return true;
}

void LosslessFrameEncoder::Stop() {
  r1_.Free();
  r2_.Free();
  r3_.Free();
  scratch_ = {};
  encoder_.Release();
  key_frame_ = false;
  key_interval_ = 0;
  bytes_since_key_ = 0;
}

bool LosslessFrameEncoder::Encode(const EncoderInput& in) {
  encoder_.ResetPacket();
  key_frame_ = false;
  if (!r1_.view().IsValid() || in.dirty == nullptr) return false;
  if (in.key_requested) {
    key_frame_ = true;
    bytes_since_key_ = 0;
  } else if (key_interval_ != 0 && bytes_since_key_ >= key_interval_) {
    key_frame_ = true;
    bytes_since_key_ = 0;
  }
  const LosslessFrames frames{in.current, r1_.view(), r2_.view(), r3_.view(), scratch_.data()};
  return encoder_.EncodeRowCommands(frames, in.area, *in.dirty, key_frame_, &bytes_since_key_);
}

}  // namespace kmr
