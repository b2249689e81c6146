// An installed video compressor as its coding stage sees it: the
// format of what it makes, its frame rate as scale and rate, and one raw
// frame compressed at a time. The compressor list and its key-frame and
// data-rate rules are the compressor's own business.
#pragma once

#include <cstdint>
#include <vector>

#include "recorder/outputs/stream_format.h"

namespace kmr {

class VideoCompressor {
 public:
  virtual ~VideoCompressor() = default;
  // At the start of a recording: frames of this bitmap info header (40
  // bytes, 32 bits, bottom-up) at rate / scale frames a second. False when
  // the compressor refuses them.
  virtual bool StartFrames(const std::vector<uint8_t>& input, uint32_t rate, uint32_t scale) = 0;
  // At the end of the recording.
  virtual void FinishFrames() = 0;
  // The output format: a bitmap info header (40 bytes or more).
  virtual const std::vector<uint8_t>& OutputFormat() const = 0;
  virtual uint32_t Scale() const = 0;
  virtual uint32_t Rate() const = 0;
  virtual uint32_t BitRate() const { return 0; }
  // Compresses the raw frame the source handed over; false on failure.
  virtual bool CompressFrame(const void* raw, uint32_t size) = 0;
  // Slots of the time line that went by without a frame to compress (the
  // screen did not change): key frames are due by recording time, not by
  // the number of frames compressed.
  virtual void PassSlots(uint32_t slots) { (void)slots; }
  virtual const uint8_t* CompressedData() const = 0;
  virtual uint32_t CompressedSize() const = 0;
  virtual bool CompressedKeyFrame() const = 0;
};

// The format a video stream is attached with.
inline CompressedVideoFormat FormatOf(const VideoCompressor& compressor) {
  return CompressedVideoFormat{compressor.OutputFormat(), compressor.Scale(), compressor.Rate(), compressor.BitRate()};
}

}  // namespace kmr
