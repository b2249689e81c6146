// The frame source for installed compressors: lets the capture source capture
// each frame, copies the recorded rectangle into its own bottom-up 32-bit
// image and submits that raw image to a compressing stream.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/timer/frame_timer.h"
#include "recorder/engine/frame_capturer.h"
#include "recorder/engine/frame_clock.h"
#include "recorder/engine/media_stream.h"
#include "shared/container/container_format.h"
#include "shared/worker_thread.h"

namespace kmr {

class RawFrameSource : public WorkerThread {
 public:
  explicit RawFrameSource(platform::MsClock* clock = platform::SystemMsClock(),
                          std::unique_ptr<platform::FrameTimer> timer = platform::CreateFrameTimer());
  ~RawFrameSource() override;

  void SetSource(FrameCapturer* source) { source_ = source; }
  // Odd values are made even; stride and image size follow.
  void SetWidth(int32_t w);
  void SetHeight(int32_t h);
  void SetFps(uint32_t fps) { fps_ = fps == 0 ? 1 : fps; }
  uint32_t GetFps() const { return fps_; }
  bool SetOutput(MediaStream* stream);

  // The own image's header: 40 bytes, 32 bits, uncompressed, bottom-up.
  const BitmapInfoHeader& Header() const { return header_; }
  uint32_t Stride() const { return stride_; }

  // Captures one frame and returns the picture in the own image's layout, or
  // null on failure.
  virtual const uint8_t* GrabFrame();

  bool StepForTest() { return Step(); }

 protected:
  bool OnStart() override;
  bool Step() override;

 private:
  void UpdateSize();

  FrameCapturer* source_ = nullptr;
  platform::MsClock* clock_;
  std::unique_ptr<platform::FrameTimer> timer_;
  MediaStream* output_ = nullptr;
  BitmapInfoHeader header_;
  int32_t abs_width_ = 0, abs_height_ = 0;
  uint32_t fps_ = 15;
  uint32_t stride_ = 0;
  std::vector<uint8_t> image_;
  FrameClock frame_clock_;
  GridPacer pacer_;
};

}  // namespace kmr
