// An installed video compressor as the compressing video streams see it: the
// format of what it makes, its frame rate as scale and rate, and one raw
// frame compressed at a time. The compressor list and its key-frame and
// data-rate rules are the compressor's own business.
#pragma once

#include <cstdint>
#include <vector>

#include "recorder/engine/media_stream.h"

namespace kmr {

class VideoCompressor : public MediaSource {
 public:
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

// The time line of a compressed stream: t(n) = n × scale × 1000 / rate and
// d = 1000 × scale / rate, both rounded; a frame at source time T takes the
// first slot whose end is not before T.
class CompressedFrameGrid {
 public:
  void Reset() { n_ = 0; }
  // False for a zero rate or scale.
  bool SlotFor(uint32_t scale, uint32_t rate, uint32_t t, uint32_t* slot, uint32_t* duration);
  void Advance() { ++n_; }
  uint32_t Count() const { return n_; }

 private:
  uint32_t n_ = 0;
};

// The compressing streams' Submit: places a raw frame at source time T on
// the compressor's time line, compresses it and submits the result through
// the stream's base Submit with key_flag for key frames. A frame without
// data (nothing changed) is not compressed and leaves its slot empty. The
// slot taken goes to *slot; the grid advances only on success.
bool SubmitCompressedFrame(MediaStream* stream, VideoCompressor* compressor, CompressedFrameGrid* grid,
                           const void* data, uint32_t size, uint32_t time_stamp, uint32_t key_flag, uint32_t* slot);

}  // namespace kmr
