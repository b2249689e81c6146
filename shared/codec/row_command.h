// The lossless screen codec's row command: 12 bytes, little-endian, followed
// by |width| pixels of data when the source byte is 0.
#pragma once

#include <cstdint>

namespace kmr {

inline constexpr size_t kRowCommandSize = 12;

// Source byte: where the run comes from.
inline constexpr uint8_t kSourceData = 0;
inline constexpr uint8_t kSourceR1 = 1;
inline constexpr uint8_t kSourceR2 = 2;
inline constexpr uint8_t kSourceR3 = 4;

// Update mask bits: which reference planes take the destination run afterwards.
inline constexpr uint8_t kUpdateR1 = 1;
inline constexpr uint8_t kUpdateR2 = 2;
inline constexpr uint8_t kUpdateR3 = 4;

// The nine (source, mask) values the encoder uses, as one 16-bit word with the
// source in the low byte.
enum RowCommandKind : uint16_t {
  kCursorXor = 0x0100,          // data, R1, width < 0
  kCursorMove = 0x0101,         // R1 shifted, R1
  kWindowRestore = 0x0102,      // R2, R1
  kWindowDrag = 0x0301,         // R1 shifted, R1 R2
  kWindowXor = 0x0300,          // data, R1 R2, width < 0
  kWindowRefresh = 0x0201,      // R1, R2
  kBackgroundRestore = 0x0304,  // R3, R1 R2
  kBackgroundXor = 0x0700,      // data, R1 R2 R3, width < 0
  kBackgroundRefresh = 0x0601,  // R1, R2 R3
  kKeyRow = 0x0700,             // data, R1 R2 R3, width > 0: raw pixels
};

struct RowCommand {
  int16_t src_x = 0;
  int16_t src_y = 0;
  int16_t dst_x = 0;
  int16_t dst_y = 0;
  int16_t width = 0;  // > 0 copy, <= 0 XOR; the run is |width| pixels
  uint8_t source = 0;
  uint8_t mask = 0;

  void Store(uint8_t* p) const {
    auto put16 = [&p](int16_t v) {
      p[0] = static_cast<uint8_t>(static_cast<uint16_t>(v));
      p[1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
      p += 2;
    };
    put16(src_x);
    put16(src_y);
    put16(dst_x);
    put16(dst_y);
    put16(width);
    p[0] = source;
    p[1] = mask;
  }
  static RowCommand Load(const uint8_t* p) {
    auto get16 = [&p]() {
      const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
      p += 2;
      return v;
    };
    RowCommand c;
    c.src_x = get16();
    c.src_y = get16();
    c.dst_x = get16();
    c.dst_y = get16();
    c.width = get16();
    c.source = p[0];
    c.mask = p[1];
    return c;
  }
  uint32_t RunPixels() const { return width < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(width)) : static_cast<uint32_t>(width); }
};

// Frames must stay below this size in both directions.
inline constexpr int32_t kMaxCodecDimension = 32768;

}  // namespace kmr
