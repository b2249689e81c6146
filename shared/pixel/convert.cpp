#include "shared/pixel/convert.h"

namespace kmr {

namespace {

inline void Put555(uint8_t* d, uint32_t p) {
  d[0] = Widen5(p & 0x1F);
  d[1] = Widen5((p >> 5) & 0x1F);
  d[2] = Widen5((p >> 10) & 0x1F);
  d[3] = 0;
}

inline void Put565(uint8_t* d, uint32_t p) {
  d[0] = Widen5(p & 0x1F);
  d[1] = Widen6((p >> 5) & 0x3F);
  d[2] = Widen5((p >> 11) & 0x1F);
  d[3] = 0;
}

template <void (*Put)(uint8_t*, uint32_t)>
void Convert16(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
               int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = src + static_cast<size_t>(y) * src_stride;
    uint8_t* d = dst + static_cast<size_t>(y) * dst_stride;
    int32_t x = 0;
    for (; x + 4 <= width; x += 4, s += 8, d += 16) {  // four pixels per step
      Put(d, static_cast<uint32_t>(s[0] | (s[1] << 8)));
      Put(d + 4, static_cast<uint32_t>(s[2] | (s[3] << 8)));
      Put(d + 8, static_cast<uint32_t>(s[4] | (s[5] << 8)));
      Put(d + 12, static_cast<uint32_t>(s[6] | (s[7] << 8)));
    }
    for (; x < width; ++x, s += 2, d += 4) Put(d, static_cast<uint32_t>(s[0] | (s[1] << 8)));
  }
}

}  // namespace

void Convert24To32(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                   int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* s = src + static_cast<size_t>(y) * src_stride;
    uint8_t* d = dst + static_cast<size_t>(y) * dst_stride;
    int32_t x = 0;
    for (; x + 8 <= width; x += 8, s += 24, d += 32) {  // eight pixels per step
      for (int k = 0; k < 8; ++k) {
        d[k * 4] = s[k * 3];
        d[k * 4 + 1] = s[k * 3 + 1];
        d[k * 4 + 2] = s[k * 3 + 2];
        d[k * 4 + 3] = 0;
      }
    }
    for (; x < width; ++x, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0;
    }
  }
}

void Convert555To32(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height) {
  Convert16<Put555>(dst, dst_stride, src, src_stride, width, height);
}

void Convert565To32(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height) {
  Convert16<Put565>(dst, dst_stride, src, src_stride, width, height);
}

namespace {

template <typename Fn>
void Rows(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t height, Fn fn) {
  for (int32_t y = 0; y < height; ++y) fn(dst + static_cast<size_t>(y) * dst_stride, src + static_cast<size_t>(y) * src_stride);
}

inline void Store16(uint8_t* d, uint32_t v) {
  d[0] = static_cast<uint8_t>(v);
  d[1] = static_cast<uint8_t>(v >> 8);
}
inline uint32_t Load16(const uint8_t* s) { return static_cast<uint32_t>(s[0] | (s[1] << 8)); }

}  // namespace

void Convert32To24(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                   int32_t height) {
  Rows(dst, dst_stride, src, src_stride, height, [width](uint8_t* d, const uint8_t* s) {
    for (int32_t x = 0; x < width; ++x, d += 3, s += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  });
}

void Convert32To555(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height) {
  Rows(dst, dst_stride, src, src_stride, height, [width](uint8_t* d, const uint8_t* s) {
    for (int32_t x = 0; x < width; ++x, d += 2, s += 4) {
      Store16(d, ((s[2] >> 3u) << 10) | ((s[1] >> 3u) << 5) | (s[0] >> 3u));
    }
  });
}

void Convert32To565(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height) {
  Rows(dst, dst_stride, src, src_stride, height, [width](uint8_t* d, const uint8_t* s) {
    for (int32_t x = 0; x < width; ++x, d += 2, s += 4) {
      Store16(d, ((s[2] >> 3u) << 11) | ((s[1] >> 2u) << 5) | (s[0] >> 3u));
    }
  });
}

void Convert565To555(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                     int32_t height) {
  Rows(dst, dst_stride, src, src_stride, height, [width](uint8_t* d, const uint8_t* s) {
    for (int32_t x = 0; x < width; ++x, d += 2, s += 2) {
      const uint32_t p = Load16(s);
      Store16(d, ((p >> 11) << 10) | (((p >> 6) & 0x1F) << 5) | (p & 0x1F));  // the lowest green bit goes
    }
  });
}

void Convert555To565(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                     int32_t height) {
  Rows(dst, dst_stride, src, src_stride, height, [width](uint8_t* d, const uint8_t* s) {
    for (int32_t x = 0; x < width; ++x, d += 2, s += 2) {
      const uint32_t p = Load16(s);
      const uint32_t g = (p >> 5) & 0x1F;
      Store16(d, (((p >> 10) & 0x1F) << 11) | (((g << 1) | (g >> 4)) << 5) | (p & 0x1F));
    }
  });
}

PixelConverter ConverterFor(PixelFormat frame, PixelFormat display, bool* supported) {
  *supported = true;
  if (frame.bits != 16) frame.is555 = false;
  if (display.bits != 16) display.is555 = false;
  if (frame == display) return nullptr;
  if (frame.bits == 32) {
    if (display.bits == 24) return Convert32To24;
    if (display.bits == 16) return display.is555 ? Convert32To555 : Convert32To565;
  } else if (frame.bits == 24) {
    if (display.bits == 32) return Convert24To32;
  } else if (frame.bits == 16) {
    if (display.bits == 32) return frame.is555 ? Convert555To32 : Convert565To32;
    if (display.bits == 16) return frame.is555 ? Convert555To565 : Convert565To555;
  }
  *supported = false;
  return nullptr;
}

}  // namespace kmr
