// Records of the screen video container: stream count, stream descriptors
// (72-byte StreamHeader + format block), packet records and the 12-byte
// trailer. All little-endian and packed; written and read field by field.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/byte_io.h"

namespace kmr {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
  bool operator==(const Guid&) const = default;
  std::string ToString() const;  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
};

constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

inline constexpr uint32_t kFourCcLossless = FourCc('K', 'M', 'R', 'V');
inline constexpr uint32_t kFourCcLossy = FourCc('k', 'm', 'r', 'v');
inline constexpr uint16_t kWaveFormatMpegLayer3 = 0x55;

// {XXXXXXXX-0000-0010-8000-00AA00389B71}: the media subtype GUID of a FOURCC or format tag.
Guid FourCcGuid(uint32_t fourcc);
extern const Guid kMediaTypeVideo;        // "vids"
extern const Guid kMediaTypeAudio;        // "auds"
extern const Guid kSubtypeScreenVideo;    // "KMRV", both own codecs
extern const Guid kSubtypeMp3;            // wave format tag 0x55
extern const Guid kFormatVideoInfo;       // {05589F80-C356-11CE-BF01-00AA0055595A}
extern const Guid kFormatWaveFormatEx;    // {05589F81-C356-11CE-BF01-00AA0055595A}

void WriteGuid(ByteWriter& w, const Guid& g);
Guid ReadGuid(ByteReader& r);

inline constexpr size_t kStreamHeaderSize = 72;

// The platform's media type record; its two pointer fields are raw 32-bit values.
struct StreamHeader {
  Guid major_type;
  Guid subtype;
  uint32_t fixed_size_samples = 0;
  uint32_t temporal_compression = 1;
  uint32_t sample_size = 0;
  Guid format_type;
  uint32_t interface_pointer = 0;
  uint32_t format_size = 0;
  uint32_t format_pointer = 0;  // meaningless in the file

  void Write(ByteWriter& w) const;
  static StreamHeader Read(ByteReader& r);
};

inline constexpr size_t kBitmapInfoHeaderSize = 40;
// Bitmap compression values: plain pixels, and 16-bit pixels with masks.
inline constexpr uint32_t kBiRgb = 0;
inline constexpr uint32_t kBiBitFields = 3;

struct BitmapInfoHeader {
  uint32_t size = kBitmapInfoHeaderSize;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bit_count = 0;
  uint32_t compression = 0;
  uint32_t size_image = 0;
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  uint32_t clr_used = 0;
  uint32_t clr_important = 0;

  void Write(ByteWriter& w) const;
  static BitmapInfoHeader Read(ByteReader& r);
};

inline constexpr size_t kVideoInfoHeaderSize = 88;

// The video format block: video info header and the colour data after it
// (256 bytes for 8-bit images, the three 16-bit colour masks, or nothing).
struct VideoFormat {
  uint32_t bit_rate = 0;
  uint32_t bit_error_rate = 0;
  int64_t avg_time_per_frame = 0;  // 100-ns units
  BitmapInfoHeader bitmap;
  std::vector<uint8_t> colour_data;

  std::vector<uint8_t> Serialize() const;
  // Fails for a block shorter than 88 bytes.
  static bool Parse(const std::vector<uint8_t>& block, VideoFormat* out);
};

// What the recorder can make, and so the bounds on everything a recording
// says about itself: frame sides, pixels per frame, frame rates and length.
inline constexpr int32_t kMaxFrameSide = 16384;
inline constexpr uint64_t kMaxFramePixels = 1ull << 25;  // 8K UHD fits
inline constexpr uint32_t kMinFps = 1;
inline constexpr uint32_t kMaxFps = 1000;
inline constexpr uint32_t kMaxRecordingMs = 24u * 60 * 60 * 1000;

// Checks a screen video format against those bounds: a known depth, sides of
// 1 to kMaxFrameSide (either sign of height), at most kMaxFramePixels, a time
// per frame for 1 to 1000 frames per second, one of the own codecs. False
// with *why set (one line) otherwise.
bool CheckScreenVideoFormat(const VideoFormat& format, std::string* why);
// The frame rate of a checked format, rounded.
uint32_t FramesPerSecond(const VideoFormat& format);

// Colour data bytes that follow the video info header for a bit depth.
size_t ColourDataSize(uint32_t bit_count);

// Row stride and image size of a bottom-up or top-down DIB.
inline uint32_t DibStride(uint32_t width, uint32_t bit_count) {
  return ((bit_count * width / 8) + 3) & ~3u;
}

inline constexpr size_t kWaveFormatMp3Size = 30;

// The MPEG layer-3 wave format record (30 bytes).
struct WaveFormatMp3 {
  uint16_t format_tag = kWaveFormatMpegLayer3;
  uint16_t channels = 0;
  uint32_t samples_per_sec = 0;
  uint32_t avg_bytes_per_sec = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t cb_size = 12;
  uint16_t id = 1;
  uint32_t flags = 0;
  uint16_t block_size = 0;
  uint16_t frames_per_block = 1;
  uint16_t codec_delay = 0;

  std::vector<uint8_t> Serialize() const;
  static bool Parse(const std::vector<uint8_t>& block, WaveFormatMp3* out);
};

inline constexpr size_t kPacketRecordHeaderSize = 18;

struct PacketRecordHeader {
  uint16_t stream_id = 0;
  uint32_t time_stamp = 0;
  uint32_t duration = 0;
  uint32_t flags = 0;
  uint32_t length = 0;

  void Write(ByteWriter& w) const;
  static PacketRecordHeader Read(ByteReader& r);
};

inline constexpr uint32_t kPacketFlagKeyFrame = 1;

inline constexpr size_t kTrailerSize = 12;
inline constexpr uint32_t kTrailerMagic = 0x4558452E;  // ".EXE"

struct Trailer {
  uint32_t duration = 0;
  uint32_t container_start = 0;
  uint32_t magic = kTrailerMagic;

  void Write(ByteWriter& w) const;
  static Trailer Read(ByteReader& r);
};

// Whole output files (player copy included) stay below this size.
inline constexpr uint32_t kMaxContainerFilePosition = 0x7D000000;

}  // namespace kmr
