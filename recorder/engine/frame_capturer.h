// What the frame sources drive: the capture source, which captures and
// encodes one frame at a time and describes the result to the video stream.
#pragma once

#include "recorder/engine/video_source.h"
#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr {

class FrameCapturer : public EncodedVideoSource {
 public:
  // Attaches the capture for one recording; Release undoes it.
  virtual bool Prepare(bool lossless, bool own_codec) = 0;
  virtual void Release() = 0;
  virtual bool IsStarted() const = 0;
  virtual bool Capture() = 0;
  virtual bool Encode() = 0;
  virtual void SetRect(const Rect& r) = 0;
  virtual void SetFps(uint32_t fps) = 0;
  virtual void SetKeyInterval(uint64_t bytes) = 0;
  // The working frame (the surface's full size, rows top-down).
  virtual const PlaneView& Frame() const = 0;
};

}  // namespace kmr
