#include "player/codecs/lossy/lossy_frame_decoder.h"

#include <new>

#include "shared/container/container_format.h"

namespace kmr {

LossyFrameDecoder::LossyFrameDecoder(const XvidApi* api) {
  if (api != nullptr) {
    tiles_.UseLibrary(api);
    ready_ = true;
  } else {
    ready_ = tiles_.Init(&error_);
  }
}

bool LossyFrameDecoder::SetFormat(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride) {
  tiles_.Reset();
  p_.Free();
  if (!ready_) return false;
  if (bytes_per_pixel != 4) {
    error_ = "lossy screen video must have 32-bit frames";
    return false;
  }
  // The library writes pixel pairs: odd sides would reach past the picture.
  if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || width > kMaxFrameSide ||
      height > kMaxFrameSide) {
    error_ = "lossy screen video must have even sides of at most " + std::to_string(kMaxFrameSide) + " pixels";
    return false;
  }
  const uint32_t row = static_cast<uint32_t>(width) * 4;
  if (stride != 0 && stride != row) {
    error_ = "lossy screen video rows must be " + std::to_string(row) + " bytes";
    return false;
  }
  try {
    p_.Reset(width, height, 4);
  } catch (const std::bad_alloc&) {
    error_ = "not enough memory for the picture";
    return false;
  }
  return true;
}

bool LossyFrameDecoder::Decode(const uint8_t* packet, size_t length, const ChangeSink& changed) {
  const PlaneView& p = p_.view();
  if (!p.IsValid()) {
    error_ = ready_ ? "no format" : error_;
    return false;
  }
  if (length == 0) return true;
  std::function<bool(const Rect&)> done;
  if (changed) done = changed;
  if (!tiles_.Decode(packet, length, p.data, static_cast<int32_t>(p.stride), p.width, p.height, done)) {
    error_ = tiles_.Error();
    return false;
  }
  return true;
}

}  // namespace kmr
