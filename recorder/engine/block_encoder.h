// An audio encoder as the audio streams see it: one whole input block in,
// the coded bytes of that block out, and the wave format of what it makes.
#pragma once

#include <cstdint>

#include "recorder/engine/video_source.h"

namespace kmr {

class BlockEncoder : public AudioFormatSource {
 public:
  // Codes one input block; false when the encoder refuses it.
  virtual bool EncodeBlock(const void* pcm) = 0;
  // The bytes of the last block (or of the flush); reused by the next call.
  virtual const uint8_t* Output() const = 0;
  virtual uint32_t OutputBytes() const = 0;
};

// Codes one input block with the encoder and queues the coded bytes through
// the stream's base Submit with flags 0; false, and nothing queued, when the
// encoder refuses the block.
inline bool SubmitEncodedBlock(MediaStream* stream, BlockEncoder* encoder, const void* pcm, uint32_t time_stamp,
                               uint32_t duration) {
  if (!encoder->EncodeBlock(pcm)) return false;
  return stream->MediaStream::Submit(encoder->Output(), encoder->OutputBytes(), time_stamp, duration, 0);
}

}  // namespace kmr
