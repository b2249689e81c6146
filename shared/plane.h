// A picture in memory: rows top-down, each of stride bytes; a pixel is
// bytes_per_pixel bytes that the codecs never look inside.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace kmr {

// Row length n bytes rounded up to a multiple of 4.
inline uint32_t StrideFor(uint32_t row_bytes) { return (row_bytes + 3) & ~3u; }

struct PlaneView {
  uint8_t* data = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t stride = 0;
  uint32_t bytes_per_pixel = 0;

  uint8_t* At(int32_t x, int32_t y) const {
    return data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bytes_per_pixel;
  }
  bool IsValid() const { return data != nullptr; }
};

// An owned, zero-filled plane.
class Plane {
 public:
  Plane() = default;
  Plane(int32_t width, int32_t height, uint32_t bytes_per_pixel) { Reset(width, height, bytes_per_pixel); }
  void Reset(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride = 0) {
    view_.width = width;
    view_.height = height;
    view_.bytes_per_pixel = bytes_per_pixel;
    view_.stride = stride != 0 ? stride : StrideFor(static_cast<uint32_t>(width) * bytes_per_pixel);
    bytes_.assign(static_cast<size_t>(view_.stride) * static_cast<size_t>(height), 0);
    view_.data = bytes_.empty() ? nullptr : bytes_.data();
  }
  void Free() {
    bytes_ = {};
    view_ = PlaneView{};
  }
  void Zero() { std::fill(bytes_.begin(), bytes_.end(), 0); }
  const PlaneView& view() const { return view_; }
  uint8_t* data() { return view_.data; }
  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  PlaneView view_;
};

}  // namespace kmr
