// A source of encoded frames and one of MP3 blocks, for programs and tests
// that code frames themselves (kmrtool encode, stream tests): the format each
// hands its stream, and the frame just encoded as a packet.
#pragma once

#include <cstdint>
#include <vector>

#include "recorder/outputs/media_stream.h"
#include "recorder/outputs/stream_format.h"
#include "shared/container/container_format.h"
#include "shared/geometry.h"

namespace kmr {

class EncodedVideoSource {
 public:
  virtual ~EncodedVideoSource() = default;
  virtual uint32_t Fps() const = 0;
  // The stream format's compression code (the codec's FOURCC).
  virtual uint32_t Compression() const = 0;
  virtual uint32_t BitDepth() const = 0;
  virtual uint32_t BitRate() const { return 0; }
  // The captured image's header and its colour table (an 8-bit palette or the
  // three 16-bit colour masks; empty otherwise).
  virtual const BitmapInfoHeader& BitmapInfo() const = 0;
  virtual const std::vector<uint8_t>& ColourTable() const = 0;
  virtual Rect CaptureRect() const = 0;
  // The frame just encoded: bytes, length (0 = nothing changed) and key flag.
  virtual bool IsKeyFrame() const = 0;
  virtual const uint8_t* EncodedData() const = 0;
  virtual uint32_t EncodedSize() const = 0;
};

// The frame the source just encoded, as a packet at a slot of the frame
// grid (no data when nothing changed).
inline MediaPacket EncodedFrame(const EncodedVideoSource& source, uint32_t time_stamp, uint32_t duration,
                                uint32_t slot) {
  MediaPacket p;
  p.size = source.EncodedSize();
  p.data = p.size != 0 ? source.EncodedData() : nullptr;
  p.time_stamp = time_stamp;
  p.duration = duration;
  p.key = source.IsKeyFrame();
  p.slot = slot;
  return p;
}

// The 30-byte MP3 wave format of an audio encoder.
class AudioFormatSource {
 public:
  virtual ~AudioFormatSource() = default;
  virtual std::vector<uint8_t> WaveFormat() const = 0;
};

// The format a stream is attached with.
inline OwnVideoFormat FormatOf(const EncodedVideoSource& source) {
  OwnVideoFormat f;
  f.fps = source.Fps();
  f.compression = source.Compression();
  f.bit_rate = source.BitRate();
  f.bitmap = source.BitmapInfo();
  f.bitmap.bit_count = static_cast<uint16_t>(source.BitDepth());
  f.colour_table = source.ColourTable();
  f.capture_rect = source.CaptureRect();
  return f;
}
inline SoundFormat FormatOf(const AudioFormatSource& source) { return SoundFormat{source.WaveFormat()}; }

}  // namespace kmr
