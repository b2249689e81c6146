// The capture source's per-frame coding step. The source keeps the working
// frame C current over the changed region; an encoder turns each frame into
// a packet for the video stream. Each codec is one implementation; the codec
// list of the user interface chooses one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/region/region.h"
#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr {

// One frame as the capture source hands it on.
struct EncoderInput {
  PlaneView current;                              // C, the surface's size
  Rect area;                                      // the recorded rectangle in C
  const platform::Region* dirty = nullptr;        // where C changed, within area
  const std::vector<Rect>* dirty_rects = nullptr;  // the same region's rectangles
  uint32_t fps = 15;
  // The whole area must be sent (the recording starts or its rectangle moved).
  bool key_requested = false;
};

class FrameEncoder {
 public:
  virtual ~FrameEncoder() = default;
  // The name the codec list shows and the stream format's compression code.
  virtual const char* Name() const = 0;
  virtual uint32_t FourCc() const = 0;
  // True when the frames keep the screen's pixel format and any size; false
  // when they are 32-bit BGRX with even sides (the capture converts and
  // widens the recorded rectangle).
  virtual bool KeepsScreenFormat() const = 0;
  // Once per recording, for frames of that geometry: starts the codec's
  // library and makes the reference frames. False with *error saying why.
  virtual bool Start(int32_t width, int32_t height, uint32_t bytes_per_pixel, std::string* error) = 0;
  // Frees everything Start and the frames made; safe when not started.
  virtual void Stop() = 0;
  // For codecs whose key frames follow the amount coded (0: none but the
  // requested ones).
  virtual void SetKeyInterval(uint64_t bytes) { (void)bytes; }
  // Codes one frame; the packet (length 0 when nothing needs sending) stays
  // valid until the next call.
  virtual bool Encode(const EncoderInput& in) = 0;
  // Whether the last packet is marked as a key frame in the stream.
  virtual bool IsKeyFrame() const = 0;
  virtual const uint8_t* PacketData() const = 0;
  virtual uint32_t PacketLength() const = 0;
};

}  // namespace kmr
