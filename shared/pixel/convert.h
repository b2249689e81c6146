// Pixel format converters. Each takes (destination, destination stride,
// source, source stride, width in pixels, height in rows). Channels narrower
// than 8 bits are widened by repeating their top bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kmr {

using PixelConverter = void (*)(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride,
                                int32_t width, int32_t height);

inline uint8_t Widen5(uint32_t c) { return static_cast<uint8_t>((c << 3) | (c >> 2)); }
inline uint8_t Widen6(uint32_t g) { return static_cast<uint8_t>((g << 2) | (g >> 4)); }

// To 32 bits: blue, green, red, fourth byte (0 from the 16-bit formats).
void Convert24To32(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                   int32_t height);
void Convert555To32(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height);
void Convert565To32(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height);

// From 32 bits, and between the 16-bit layouts (the player's display mirror).
void Convert32To24(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                   int32_t height);
void Convert32To555(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height);
void Convert32To565(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                    int32_t height);
void Convert565To555(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                     int32_t height);
void Convert555To565(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride, int32_t width,
                     int32_t height);

// Frame and display formats of the converter table: bits per pixel, and for 16
// bits whether the layout is 5-5-5.
struct PixelFormat {
  uint32_t bits = 32;
  bool is555 = false;
  bool operator==(const PixelFormat&) const = default;
};

// The converter from a frame format to a display format; null for a straight
// copy (same format). *supported is false for pairs without a conversion.
PixelConverter ConverterFor(PixelFormat frame, PixelFormat display, bool* supported);

}  // namespace kmr
