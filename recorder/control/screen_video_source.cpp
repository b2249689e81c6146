#include "recorder/control/screen_video_source.h"

#include "recorder/outputs/media_writer.h"
#include "shared/trace.h"

namespace kmr {

ScreenVideoSource::ScreenVideoSource(FrameCapturer* capture, platform::MsClock* clock,
                                     std::unique_ptr<platform::FrameTimer> timer)
    : capture_(capture), timer_(std::move(timer)), timeline_(clock) {}

ScreenVideoSource::~ScreenVideoSource() { Stop(); }

bool ScreenVideoSource::SetOutput(PacketSink* sink, std::optional<FrameTimebase> timebase) {
  if (sink == nullptr || (timebase && !timebase->Valid())) return false;
  output_ = sink;
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
  if (capture_ == nullptr || !capture_->IsStarted() || output_ == nullptr || !timer_) return false;
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
  MediaWriter* writer = output_->GetWriter();
  if (!IsPaused() && writer != nullptr && writer->IsRunning()) {
    capture_->Capture();
    if (!capture_->Encode()) return Fail("capturing or encoding a frame failed");
    const FrameTimebase timebase = timebase_ ? *timebase_ : FrameTimebase::Fps(fps_);
    FrameGrid next = grid_;
    const uint32_t slot_time = next.SlotFor(timebase, stamp);
    if (!output_->Put(EncodedFrame(*capture_, slot_time, timebase.duration, next.Count()))) {
      return Fail("the frame could not be handed to the writer");
    }
    if (frames_.load() != 0) dropped_.fetch_add(next.Count() - grid_.Count());
    next.Advance();
    grid_ = next;
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
