#include "recorder/codecs/frame_differ.h"

#include <cstring>

namespace kmr {

namespace {

// First pixel in [x, end) that differs, or end.
int32_t NextDiff(const uint8_t* a, const uint8_t* b, int32_t x, int32_t end, uint32_t bpp) {
  if (bpp == 4) {
    for (; x < end; ++x) {
      uint32_t va, vb;
      std::memcpy(&va, a + static_cast<size_t>(x) * 4, 4);
      std::memcpy(&vb, b + static_cast<size_t>(x) * 4, 4);
      if (va != vb) return x;
    }
    return end;
  }
  for (; x < end; ++x) {
    if (std::memcmp(a + static_cast<size_t>(x) * bpp, b + static_cast<size_t>(x) * bpp, bpp) != 0) return x;
  }
  return end;
}

// First pixel in [x, end) that is equal, or end.
int32_t NextSame(const uint8_t* a, const uint8_t* b, int32_t x, int32_t end, uint32_t bpp) {
  for (; x < end; ++x) {
    if (std::memcmp(a + static_cast<size_t>(x) * bpp, b + static_cast<size_t>(x) * bpp, bpp) == 0) return x;
  }
  return end;
}

}  // namespace

void FrameDiffer::Diff(const PlaneView& before, const PlaneView& after, const Rect& area, platform::Region* out) {
  rects_.clear();
  const uint32_t bpp = after.bytes_per_pixel;
  const size_t row_bytes = static_cast<size_t>(area.Width()) * bpp;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint8_t* a = before.At(area.left, y);
    const uint8_t* b = after.At(area.left, y);
    if (std::memcmp(a, b, row_bytes) == 0) continue;
    const int32_t w = area.Width();
    int32_t x = NextDiff(a, b, 0, w, bpp);
    while (x < w) {
      int32_t span_end = NextSame(a, b, x, w, bpp);
      // Extend over short unchanged gaps.
      for (;;) {
        const int32_t next = NextDiff(a, b, span_end, w, bpp);
        if (next >= w || next - span_end >= kMinGapPixels) {
          rects_.push_back(Rect{area.left + x, y, area.left + span_end, y + 1});
          x = next;
          break;
        }
        span_end = NextSame(a, b, next, w, bpp);
      }
    }
  }
  out->SetRects(rects_);
}

}  // namespace kmr
