// Picture quality for tests of lossy video: PSNR as ffmpeg's psnr filter
// reports it for 4:2:0 video — both pictures turned into BT.601 studio-range
// Y'CbCr with 2 × 2 chroma, the squared error summed over every sample of
// the three planes. 99 for equal pictures.
#pragma once

#include <cmath>
#include <cstddef>

#include "shared/plane.h"

namespace kmr::testing {

// The w × h pixels of a (32-bit BGRX) from (ax, ay) against b from (0, 0).
inline double Psnr420(const PlaneView& a, int ax, int ay, const PlaneView& b, int w, int h) {
  auto yuv = [](const uint8_t* p, double* y, double* u, double* v) {
    const double r = p[2], g = p[1], bl = p[0];
    *y = 16 + (65.481 * r + 128.553 * g + 24.966 * bl) / 255;
    *u = 128 + (-37.797 * r - 74.203 * g + 112.0 * bl) / 255;
    *v = 128 + (112.0 * r - 93.786 * g - 18.214 * bl) / 255;
  };
  double se = 0;
  size_t n = 0;
  for (int y = 0; y + 1 < h; y += 2) {
    for (int x = 0; x + 1 < w; x += 2) {
      double cu[2] = {0, 0}, cv[2] = {0, 0};
      for (int k = 0; k < 4; ++k) {
        const int px = x + k % 2, py = y + k / 2;
        double y1, u1, v1, y2, u2, v2;
        yuv(a.At(ax + px, ay + py), &y1, &u1, &v1);
        yuv(b.At(px, py), &y2, &u2, &v2);
        const double d = std::round(y1) - std::round(y2);
        se += d * d;
        cu[0] += u1;
        cu[1] += u2;
        cv[0] += v1;
        cv[1] += v2;
      }
      const double du = std::round(cu[0] / 4) - std::round(cu[1] / 4);
      const double dv = std::round(cv[0] / 4) - std::round(cv[1] / 4);
      se += du * du + dv * dv;
      n += 6;
    }
  }
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (se / static_cast<double>(n)));
}

}  // namespace kmr::testing
