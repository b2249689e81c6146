// An audio encoder as the sound's coding stage sees it: one whole input block in,
// the coded bytes of that block out, and the wave format of what it makes.
#pragma once

#include <cstdint>

#include "recorder/outputs/video_source.h"

namespace kmr {

class BlockEncoder : public AudioFormatSource {
 public:
  // Codes one input block; false when the encoder refuses it.
  virtual bool EncodeBlock(const void* pcm) = 0;
  // The bytes of the last block (or of the flush); reused by the next call.
  virtual const uint8_t* Output() const = 0;
  virtual uint32_t OutputBytes() const = 0;
};

}  // namespace kmr
