#include "platform/mirror/pointer_image.h"

#include "shared/pixel/convert.h"

namespace kmr::platform {

namespace {

inline uint8_t Over(uint32_t src, uint32_t dst, uint32_t alpha) {
  const uint32_t v = src + (dst * (255 - alpha) + 127) / 255;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

}  // namespace

Rect BlendPointer(const PointerImage& p, const PlaneView& s) {
  const Rect r = Intersect(p.Bounds(), Rect{0, 0, s.width, s.height});
  if (r.IsEmpty() || p.argb.size() < static_cast<size_t>(p.width) * p.height) return Rect{};
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint32_t* src = &p.argb[static_cast<size_t>(y - (p.y - p.hot_y)) * p.width];
    for (int32_t x = r.left; x < r.right; ++x) {
      const uint32_t c = src[x - (p.x - p.hot_x)];
      const uint32_t a = c >> 24;
      if (a == 0) continue;
      const uint32_t cr = (c >> 16) & 0xFF, cg = (c >> 8) & 0xFF, cb = c & 0xFF;
      uint8_t* d = s.At(x, y);
      if (s.bytes_per_pixel == 4) {
        d[0] = Over(cb, d[0], a);
        d[1] = Over(cg, d[1], a);
        d[2] = Over(cr, d[2], a);
      } else if (s.bytes_per_pixel == 2) {
        const uint32_t px = static_cast<uint32_t>(d[0] | (d[1] << 8));
        const uint8_t b = Over(cb, Widen5(px & 0x1F), a);
        const uint8_t g = Over(cg, Widen6((px >> 5) & 0x3F), a);
        const uint8_t rr = Over(cr, Widen5((px >> 11) & 0x1F), a);
        const uint32_t out = ((rr >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        d[0] = static_cast<uint8_t>(out);
        d[1] = static_cast<uint8_t>(out >> 8);
      }
    }
  }
  return r;
}

}  // namespace kmr::platform
