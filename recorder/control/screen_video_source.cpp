#include "recorder/control/screen_video_source.h"

#include "recorder/outputs/media_writer.h"
#include "shared/trace.h"

namespace kmr {

ScreenVideoSource::ScreenVideoSource(FrameCapturer* capture, platform::MsClock* clock,
                                     std::unique_ptr<platform::FrameTimer> timer)
    : capture_(capture), timer_(std::move(timer)), timeline_(clock) {}

ScreenVideoSource::~ScreenVideoSource() { Stop(); }

bool ScreenVideoSource::SetOutput(FrameEncoder* encoder, PacketSink* sink, std::optional<FrameTimebase> timebase) {
  if (encoder == nullptr || sink == nullptr || (timebase && !timebase->Valid())) return false;
  coding_.Begin(encoder, sink);
  has_output_ = true;
  timebase_ = timebase;
  return true;
}

void ScreenVideoSource::SetFps(uint32_t fps) {
  fps_ = fps == 0 ? 1 : fps;
  if (capture_ != nullptr) capture_->SetFps(fps_);
}

void ScreenVideoSource::SetRect(const Rect& r) {
  platform::MutexLock lock(rect_mu_);
  pending_rect_ = r;
}

bool ScreenVideoSource::OnStart() {
  if (capture_ == nullptr || !capture_->IsStarted() || !has_output_ || !timer_) return false;
  // Nothing carries over from an earlier recording: a rectangle set after its
  // last step, or a timer still signalled from its last frame.
  {
    platform::MutexLock lock(rect_mu_);
    pending_rect_.reset();
  }
  if (!timer_->Reset()) return false;
  frames_.store(0);
  dropped_.store(0);
  grid_.Reset();
  pacer_.Reset();
  timeline_.Start();
  return true;
}

bool ScreenVideoSource::Pause() {
  if (!IsRunning()) return false;
  timeline_.Pause();
  return WorkerThread::Pause();
}

bool ScreenVideoSource::Resume() {
  if (!IsRunning()) return false;
  timeline_.Resume();
  return WorkerThread::Resume();
}

bool ScreenVideoSource::Fail(const std::string& why) {
  // A failing step ends the video thread; say so once rather than silently.
  if (on_failure_) {
    on_failure_(why);
  } else {
    Trace(nullptr, "Video capture stopped: %s\n", why.c_str());
  }
  return false;
}

bool ScreenVideoSource::Step() {
  const uint32_t stamp = timeline_.NowMs();
  {
    platform::MutexLock lock(rect_mu_);
    if (pending_rect_) {
      capture_->SetRect(*pending_rect_);
      pending_rect_.reset();
    }
  }
  MediaWriter* writer = coding_.GetWriter();
  if (!IsPaused() && writer != nullptr && writer->IsRunning()) {
    EncoderInput frame;
    if (!capture_->Capture(&frame)) return Fail("capturing a frame failed");
    const FrameTimebase timebase = timebase_ ? *timebase_ : FrameTimebase::Fps(fps_);
    const MediaPacket place = grid_.Place(timebase, stamp);
    switch (coding_.Put(frame, place)) {
      case FrameCodingStage::Result::kHandedOn:
        break;
      case FrameCodingStage::Result::kCodingFailed:
        return Fail("coding a frame failed");
      case FrameCodingStage::Result::kNotHandedOn:
        return Fail("the frame could not be handed to the writer");
    }
    if (frames_.load() != 0) dropped_.fetch_add(place.slot - grid_.Count());
    grid_.Take(place);
    frames_.fetch_add(1);
    last_time_stamp_.store(stamp);
  }
  // The next frame starts at the next slot of the frame grid, reckoned from
  // the start of the recording (paused time left out) rather than from this
  // step: whole-millisecond periods would otherwise run ahead of the grid and
  // the time line ahead of real time.
  timer_->Wait(pacer_.WaitLimit(fps_));
  return timer_->ArmRelative(pacer_.ArmFor(timeline_.NowMs(), fps_));
}

}  // namespace kmr
