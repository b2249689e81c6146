#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/timer/frame_timer.h"
#include "shared/clock.h"

namespace kmr::platform {

namespace {

class MonotonicFrameTimer : public FrameTimer {
 public:
  bool Wait(uint32_t max_ms) override {
    std::unique_lock<std::mutex> lock(mu_);
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(max_ms);
    // A timer that was never armed is not signalled.
    if (!armed_) {
      cv_.wait_until(lock, limit, [] { return false; });
      return false;
    }
    const auto until = due_ < limit ? due_ : limit;
    cv_.wait_until(lock, until, [] { return false; });
    return std::chrono::steady_clock::now() >= due_;
  }
  bool ArmRelative(uint32_t ms) override {
    std::lock_guard<std::mutex> lock(mu_);
    armed_ = true;
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    return true;
  }
  bool Reset() override {
    std::lock_guard<std::mutex> lock(mu_);
    armed_ = false;
    return true;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;  // never notified: waits run to their time
  bool armed_ = false;
  std::chrono::steady_clock::time_point due_;
};

class SystemClock : public MsClock {
 public:
  uint32_t NowMs() override { return static_cast<uint32_t>(ClockMs(1000)); }
};

}  // namespace

std::unique_ptr<FrameTimer> CreateFrameTimer() { return std::make_unique<MonotonicFrameTimer>(); }

MsClock* SystemMsClock() {
  static SystemClock clock;
  return &clock;
}

}  // namespace kmr::platform
