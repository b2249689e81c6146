// What the frame sources drive: the capture, which keeps the working frame
// current over what changed and hands each frame to the coding stage, and
// tells the video stream the format of the frames coded.
#pragma once

#include <string>

#include "recorder/codecs/frame_encoder.h"
#include "recorder/outputs/stream_format.h"
#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr {

class FrameCapturer {
 public:
  virtual ~FrameCapturer() = default;
  // Attaches the capture for one recording with frames in the format the
  // encoder takes, and starts the encoder; Release undoes it (and stops the
  // encoder).
  virtual bool Prepare(FrameEncoder* encoder) = 0;
  // Why the last Prepare failed, when it is known.
  virtual std::string Error() const { return {}; }
  virtual void Release() = 0;
  virtual bool IsStarted() const = 0;
  // One frame: collects what changed and brings the working frame up to
  // date over it. The frame (and what it points to) stays valid until the
  // next call.
  virtual bool Capture(EncoderInput* frame) = 0;
  virtual void SetRect(const Rect& r) = 0;
  virtual void SetFps(uint32_t fps) = 0;
  virtual void SetKeyInterval(uint64_t bytes) = 0;
  // The working frame (the surface's full size, rows top-down).
  virtual const PlaneView& Frame() const = 0;
  // The frames as the encoder codes them, for the video stream.
  virtual OwnVideoFormat Format() const = 0;
};

}  // namespace kmr
