// The screen video source's thread: one step per frame, paced by the frame
// timer, capturing only while the writer thread runs, and handing each frame
// to the coding stage at its slot of the recording's one frame grid: its
// place on the recording's time line, which the source starts, pauses and
// resumes (the sound is put on the same time line).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/sync/sync.h"
#include "platform/timer/frame_timer.h"
#include "recorder/codecs/frame_coding_stage.h"
#include "recorder/control/frame_capturer.h"
#include "recorder/control/frame_clock.h"
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/media_stream.h"
#include "recorder/control/recording_timeline.h"
#include "shared/worker_thread.h"

namespace kmr {

class ScreenVideoSource : public WorkerThread {
 public:
  ScreenVideoSource(FrameCapturer* capture, platform::MsClock* clock = platform::SystemMsClock(),
                    std::unique_ptr<platform::FrameTimer> timer = platform::CreateFrameTimer());
  ~ScreenVideoSource() override;

  FrameCapturer* Capturer() const { return capture_; }
  // How the frames are coded (the encoder the capture was prepared with) and
  // where the packets go: the video stream, or a compressor's stage in front
  // of it with the grid of its own time line (without one, the own codecs'
  // grid at the source's frame rate).
  bool SetOutput(FrameEncoder* encoder, PacketSink* sink, std::optional<FrameTimebase> timebase = std::nullopt);
  void SetFps(uint32_t fps);
  uint32_t GetFps() const { return fps_; }
  // May be called from another thread (the region tracker): taken over at the
  // start of the next step.
  void SetRect(const Rect& r);
  // Called once, on the source thread, when a step fails and ends the thread.
  void SetOnFailure(std::function<void(const std::string&)> fn) { on_failure_ = std::move(fn); }

  uint64_t FramesSubmitted() const { return frames_.load(); }
  // Frame slots left empty because a step came too late for them (the
  // machine could not keep up), counted from the first frame on.
  uint64_t FramesDropped() const { return dropped_.load(); }
  uint32_t LastTimeStamp() const { return last_time_stamp_.load(); }
  // Started with the source, paused and resumed with it.
  RecordingTimeline* Timeline() { return &timeline_; }
  bool Pause() override;
  bool Resume() override;

  // One step, for tests that drive the clock themselves.
  bool StepForTest() { return Step(); }

 protected:
  bool OnStart() override;
  bool Step() override;

 private:
  bool Fail(const std::string& why);

  FrameCapturer* capture_;
  std::unique_ptr<platform::FrameTimer> timer_;
  FrameCodingStage coding_;
  bool has_output_ = false;
  std::optional<FrameTimebase> timebase_;
  uint32_t fps_ = 15;
  RecordingTimeline timeline_;
  GridPacer pacer_;
  FrameGrid grid_;
  platform::Mutex rect_mu_;
  std::optional<Rect> pending_rect_;
  std::function<void(const std::string&)> on_failure_;
  std::atomic<uint64_t> frames_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint32_t> last_time_stamp_{0};
};

}  // namespace kmr
