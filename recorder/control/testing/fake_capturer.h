// A capture source for frame-clock and recording tests, and an own codec that
// codes every frame to a few bytes (the first after Prepare is a key frame);
// a clock can be pushed forward during capture to stand for a slow step.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/region/region.h"
#include "platform/timer/frame_timer.h"
#include "recorder/codecs/testing/raw_frame_encoder.h"
#include "recorder/control/frame_capturer.h"

namespace kmr::testing {

class FakeClock : public platform::MsClock {
 public:
  uint32_t NowMs() override { return now.load(); }
  std::atomic<uint32_t> now{1000};
};

// A frame timer whose waits end when the test lets one step go. A wait that
// gets no permit within a generous deadline fails the test loudly instead of
// letting a step slip through; Open lets every later wait through (teardown).
class GatedTimer : public platform::FrameTimer {
 public:
  static constexpr std::chrono::seconds kDeadline{30};

  bool Wait(uint32_t) override {
    std::unique_lock<std::mutex> lock(mu_);
    ++waits_;
    cv_.notify_all();
    if (!cv_.wait_for(lock, kDeadline, [this] { return permits_ > 0 || open_; })) {
      ADD_FAILURE() << "the frame timer waited " << kDeadline.count() << " s for a step the test never permitted";
      open_ = true;
    }
    if (permits_ > 0) --permits_;
    return true;
  }
  bool ArmRelative(uint32_t ms) override {
    std::lock_guard<std::mutex> lock(mu_);
    ++arms_;
    last_arm_ms_ = ms;
    cv_.notify_all();
    return true;
  }
  bool Reset() override {
    std::lock_guard<std::mutex> lock(mu_);
    ++resets_;
    return true;
  }
  void Permit() {
    std::lock_guard<std::mutex> lock(mu_);
    ++permits_;
    cv_.notify_all();
  }
  // Every wait from now on returns at once.
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    cv_.notify_all();
  }
  // Waits until the source thread has reached its n-th wait.
  void WaitUntilWaiting(int n) {
    std::unique_lock<std::mutex> lock(mu_);
    Expect(cv_.wait_for(lock, kDeadline, [&] { return waits_ >= n; }), "reach its wait");
  }
  // Lets the waiting step finish and waits until the next step is waiting.
  void StepOnce() {
    std::unique_lock<std::mutex> lock(mu_);
    const int target = waits_ + 1;
    ++permits_;
    cv_.notify_all();
    Expect(cv_.wait_for(lock, kDeadline, [&] { return waits_ >= target; }), "come back to its wait");
  }
  // Lets the waiting step finish and waits until it has armed the timer.
  void FinishStep() {
    std::unique_lock<std::mutex> lock(mu_);
    const int target = arms_ + 1;
    ++permits_;
    cv_.notify_all();
    Expect(cv_.wait_for(lock, kDeadline, [&] { return arms_ >= target; }), "arm the timer");
  }
  int Arms() {
    std::lock_guard<std::mutex> lock(mu_);
    return arms_;
  }
  int Resets() {
    std::lock_guard<std::mutex> lock(mu_);
    return resets_;
  }
  uint32_t LastArmMs() {
    std::lock_guard<std::mutex> lock(mu_);
    return last_arm_ms_;
  }

 private:
  static void Expect(bool reached, const char* what) {
    if (!reached) ADD_FAILURE() << "the source thread did not " << what << " within " << kDeadline.count() << " s";
  }

  std::mutex mu_;
  std::condition_variable cv_;
  int permits_ = 0;
  int waits_ = 0;
  int arms_ = 0;
  int resets_ = 0;
  bool open_ = false;
  uint32_t last_arm_ms_ = 0;
};

// Stands for an own codec: frame n (counted from 1 over the codec's life)
// codes to the bytes n, n + 1, n + 2; a frame with a key request is a key
// frame.
class FakeOwnCodec : public RawFrameEncoder {
 public:
  bool encode_ok = true;
  uint32_t FourCc() const override { return kFourCcLossless; }
  bool Encode(const EncoderInput& in) override {
    if (!encode_ok) return false;
    key_frame_ = in.key_requested;
    const auto n = static_cast<uint8_t>(++frames_);
    data_ = {n, static_cast<uint8_t>(n + 1), static_cast<uint8_t>(n + 2)};
    return true;
  }
  bool IsKeyFrame() const override { return key_frame_; }
  const uint8_t* PacketData() const override { return data_.data(); }
  uint32_t PacketLength() const override { return static_cast<uint32_t>(data_.size()); }

 private:
  int frames_ = 0;
  bool key_frame_ = false;
  std::vector<uint8_t> data_;
};

class FakeCapturer : public FrameCapturer {
 public:
  bool prepare_ok = true;
  FakeClock* clock = nullptr;
  uint32_t capture_takes_ms = 0;
  std::atomic<int> captures{0};
  bool released = true;

  // A black 64 × 48 working frame, for encoders that read it.
  FakeCapturer() {
    plane_.Reset(64, 48, 4);
    frame_ = plane_.view();
  }

  std::string failure_cause;  // what a failed Prepare says
  std::string Error() const override { return failure_cause; }
  bool Prepare(FrameEncoder* encoder) override {
    if (!prepare_ok || encoder == nullptr) return false;
    started_ = true;
    released = false;
    compression_ = encoder->FourCc();
    even_sides_ = !encoder->KeepsScreenFormat();
    key_ = true;
    return true;
  }
  void Release() override {
    started_ = false;
    released = true;
  }
  bool IsStarted() const override { return started_; }
  bool Capture(EncoderInput* frame) override {
    ++captures;
    if (clock != nullptr) clock->now += capture_takes_ms;
    *frame = EncoderInput{};
    frame->current = frame_;
    frame->area = Area();
    // The whole area changes every frame.
    dirty_.SetRect(frame->area);
    dirty_rects_.assign(1, frame->area);
    frame->dirty = &dirty_;
    frame->dirty_rects = &dirty_rects_;
    frame->fps = fps_;
    frame->key_requested = key_;
    key_ = false;
    return true;
  }
  void SetRect(const Rect& r) override { rect_ = r; }
  void SetFps(uint32_t fps) override { fps_ = fps; }
  void SetKeyInterval(uint64_t) override {}
  const PlaneView& Frame() const override { return frame_; }

  OwnVideoFormat Format() const override {
    OwnVideoFormat f;
    f.fps = fps_;
    f.compression = compression_;
    f.bitmap = info_;
    f.capture_rect = Area();
    return f;
  }

  PlaneView frame_;

 private:
  Plane plane_;
  bool started_ = false;
  uint32_t compression_ = kFourCcLossless;
  // The recorded rectangle, widened to even sides as the capture does for
  // encoders that need them.
  Rect Area() const {
    if (!even_sides_) return rect_;
    return Rect{rect_.left, rect_.top, rect_.right + rect_.Width() % 2, rect_.bottom + rect_.Height() % 2};
  }

  platform::Region dirty_;
  std::vector<Rect> dirty_rects_;
  bool even_sides_ = false;
  bool key_ = false;
  uint32_t fps_ = 15;
  Rect rect_{0, 0, 64, 48};
  BitmapInfoHeader info_{40, 64, -48, 1, 32, 0, 64 * 48 * 4, 0, 0, 0, 0};
};

}  // namespace kmr::testing
