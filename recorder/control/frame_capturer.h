// What the frame sources drive: the capture source, which captures and
// encodes one frame at a time and describes the result to the video stream.
#pragma once

#include <string>

#include "recorder/codecs/frame_encoder.h"
#include "recorder/outputs/video_source.h"
#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr {

class FrameCapturer : public EncodedVideoSource {
 public:
  // Attaches the capture for one recording, coding its frames with encoder;
  // Release undoes it.
  virtual bool Prepare(FrameEncoder* encoder) = 0;
  // Why the last Prepare failed, when it is known.
  virtual std::string FailureCause() const { return {}; }
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
