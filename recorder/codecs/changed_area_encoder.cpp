#include "recorder/codecs/changed_area_encoder.h"

#include <algorithm>
#include <cstring>

namespace kmr {

bool ChangedAreaEncoder::Start(int32_t, int32_t, uint32_t bytes_per_pixel, std::string* error) {
  if (bytes_per_pixel != 4) {
    *error = "the compressor path takes 32-bit frames";
    return false;
  }
  image_.clear();
  length_ = 0;
  return true;
}

void ChangedAreaEncoder::Stop() {
  image_.clear();
  image_.shrink_to_fit();
  length_ = 0;
}

bool ChangedAreaEncoder::Encode(const EncoderInput& in) {
  length_ = 0;
  key_ = in.key_requested;
  const bool changed = in.key_requested || (in.dirty != nullptr && !in.dirty->IsEmpty());
  if (!changed) return true;
  const PlaneView& c = in.current;
  const Rect a = Intersect(in.area, Rect{0, 0, c.width, c.height});
  if (!c.IsValid() || c.bytes_per_pixel != 4 || in.area.IsEmpty()) return false;
  const int32_t w = in.area.Width(), h = in.area.Height();
  const size_t stride = static_cast<size_t>(w) * 4;
  const size_t size = stride * static_cast<size_t>(h);
  try {
    if (image_.size() != size) image_.assign(size, 0);
  } catch (...) {
    return false;
  }
  if (!(a == in.area)) std::fill(image_.begin(), image_.end(), 0);
  // Bottom-up: the area's top row is the image's last; what lies off the
  // surface stays black.
  for (int32_t y = a.top; y < a.bottom; ++y) {
    uint8_t* dst = image_.data() + static_cast<size_t>(h - 1 - (y - in.area.top)) * stride +
                   static_cast<size_t>(a.left - in.area.left) * 4;
    std::memcpy(dst, c.At(a.left, y), static_cast<size_t>(a.Width()) * 4);
  }
  length_ = static_cast<uint32_t>(size);
  return true;
}

}  // namespace kmr
