// Checks a captured picture against the server's own picture and its pointer
// image without the blend formula the mirrors use: outside the pointer every
// pixel is the server's; under it, a fully opaque pointer pixel is the
// pointer's colour and a fully transparent one the server's. Pixels of
// partial alpha are left unchecked.
#pragma once

#include <cstring>
#include <string>

#include "platform/mirror/pointer_image.h"
#include "shared/plane.h"

namespace kmr::testing {

struct PointerCheck {
  std::string difference;   // the first, empty when none
  int opaque_checked = 0;   // pointer pixels that were compared
};

// got and server: pictures of the same area (its top-left at area_left,
// area_top on the screen), 4 (B, G, R, X) or 2 (5-6-5) bytes per pixel.
inline PointerCheck CheckPictureWithPointer(const PlaneView& got, const PlaneView& server,
                                            const platform::PointerImage& p, int32_t area_left, int32_t area_top) {
  PointerCheck out;
  const uint32_t bpp = got.bytes_per_pixel;
  for (int32_t y = 0; y < got.height && out.difference.empty(); ++y) {
    for (int32_t x = 0; x < got.width; ++x) {
      const int32_t sx = x + area_left, sy = y + area_top;
      const int32_t px = sx - (p.x - p.hot_x), py = sy - (p.y - p.hot_y);
      const bool under = px >= 0 && py >= 0 && px < p.width && py < p.height;
      const uint32_t argb = under ? p.argb[static_cast<size_t>(py) * p.width + px] : 0;
      const uint32_t alpha = argb >> 24;
      uint8_t want[4];
      if (alpha == 0) {
        std::memcpy(want, server.At(x, y), bpp);
      } else if (alpha == 255) {
        const uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
        if (bpp == 2) {
          const uint32_t v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
          want[0] = static_cast<uint8_t>(v);
          want[1] = static_cast<uint8_t>(v >> 8);
        } else {
          want[0] = static_cast<uint8_t>(b);
          want[1] = static_cast<uint8_t>(g);
          want[2] = static_cast<uint8_t>(r);
        }
        ++out.opaque_checked;
      } else {
        continue;
      }
      const size_t n = bpp == 4 ? 3 : bpp;  // the fourth byte carries nothing
      if (std::memcmp(got.At(x, y), want, n) != 0) {
        out.difference = "pixel " + std::to_string(sx) + "," + std::to_string(sy) +
                         (alpha == 0 ? " (the server's)" : " (the pointer's)") + " differs";
        break;
      }
    }
  }
  return out;
}

}  // namespace kmr::testing
