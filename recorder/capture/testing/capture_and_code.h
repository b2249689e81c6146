// One frame as the screen video source makes it, for tests that step a
// capture by hand: captured, then coded by the encoder the capture was
// prepared with.
#pragma once

#include "recorder/codecs/frame_encoder.h"
#include "recorder/control/frame_capturer.h"

namespace kmr::testing {

inline bool CaptureAndCode(FrameCapturer& capture, FrameEncoder& encoder) {
  EncoderInput frame;
  return capture.Capture(&frame) && encoder.Encode(frame);
}

}  // namespace kmr::testing
