#include "platform/mirror/pointer_image.h"

#include "shared/pixel/convert.h"

namespace kmr::platform {

namespace {

inline uint8_t Over(uint32_t src, uint32_t dst, uint32_t alpha) {
  const uint32_t v = src + (dst * (255 - alpha) + 127) / 255;
  return static_cast<uint8_t>(v > 255 ? 255 : v);
}

uint8_t NearestEntry(const std::vector<uint8_t>& palette, uint8_t b, uint8_t g, uint8_t r) {
  uint32_t best = 0, best_distance = 0xFFFFFFFF;
  for (uint32_t i = 0; i < 256 && i * 4 + 2 < palette.size(); ++i) {
    const int db = palette[i * 4] - b, dg = palette[i * 4 + 1] - g, dr = palette[i * 4 + 2] - r;
    const uint32_t d = static_cast<uint32_t>(db * db + dg * dg + dr * dr);
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

}  // namespace

Rect BlendPointer(const PointerImage& p, const PlaneView& s, const std::vector<uint8_t>* palette) {
  const Rect r = Intersect(p.Bounds(), Rect{0, 0, s.width, s.height});
  if (r.IsEmpty() || p.argb.size() < static_cast<size_t>(p.width) * p.height) return Rect{};
  if (s.bytes_per_pixel == 1 && (palette == nullptr || palette->size() < 1024)) return Rect{};
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint32_t* src = &p.argb[static_cast<size_t>(y - (p.y - p.hot_y)) * p.width];
    for (int32_t x = r.left; x < r.right; ++x) {
      const uint32_t c = src[x - (p.x - p.hot_x)];
      const uint32_t a = c >> 24;
      if (a == 0) continue;
      const uint32_t cr = (c >> 16) & 0xFF, cg = (c >> 8) & 0xFF, cb = c & 0xFF;
      uint8_t* d = s.At(x, y);
      switch (s.bytes_per_pixel) {
        case 4:
        case 3:
          d[0] = Over(cb, d[0], a);
          d[1] = Over(cg, d[1], a);
          d[2] = Over(cr, d[2], a);
          break;
        case 2: {
          const uint32_t px = static_cast<uint32_t>(d[0] | (d[1] << 8));
          const uint8_t b = Over(cb, Widen5(px & 0x1F), a);
          const uint8_t g = Over(cg, Widen6((px >> 5) & 0x3F), a);
          const uint8_t rr = Over(cr, Widen5((px >> 11) & 0x1F), a);
          const uint32_t out = ((rr >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
          d[0] = static_cast<uint8_t>(out);
          d[1] = static_cast<uint8_t>(out >> 8);
          break;
        }
        case 1: {
          const uint8_t* e = &(*palette)[static_cast<size_t>(d[0]) * 4];
          d[0] = NearestEntry(*palette, Over(cb, e[0], a), Over(cg, e[1], a), Over(cr, e[2], a));
          break;
        }
        default:
          return Rect{};
      }
    }
  }
  return r;
}

}  // namespace kmr::platform
