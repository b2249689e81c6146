#include <windows.h>

#include "platform/timer/frame_timer.h"
#include "shared/clock.h"

namespace kmr::platform {

namespace {

class WaitableFrameTimer : public FrameTimer {
 public:
  WaitableFrameTimer() : timer_(CreateWaitableTimerA(nullptr, TRUE, nullptr)) {}
  ~WaitableFrameTimer() override {
    if (timer_) CloseHandle(timer_);
  }
  bool ok() const { return timer_ != nullptr; }
  bool Wait(uint32_t max_ms) override { return WaitForSingleObject(timer_, max_ms) == WAIT_OBJECT_0; }
  bool ArmRelative(uint32_t ms) override {
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * ms;  // relative, 100-ns units
    return SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) != 0;
  }
  bool Reset() override {
    // A manual-reset timer stays signalled once due: only a new one is unarmed.
    HANDLE fresh = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    if (fresh == nullptr) return false;
    CloseHandle(timer_);
    timer_ = fresh;
    return true;
  }

 private:
  HANDLE timer_;
};

class SystemClock : public MsClock {
 public:
  uint32_t NowMs() override { return static_cast<uint32_t>(ClockMs(1000)); }
};

}  // namespace

std::unique_ptr<FrameTimer> CreateFrameTimer() {
  auto t = std::make_unique<WaitableFrameTimer>();
  if (!t->ok()) return nullptr;
  return t;
}

MsClock* SystemMsClock() {
  static SystemClock clock;
  return &clock;
}

}  // namespace kmr::platform
