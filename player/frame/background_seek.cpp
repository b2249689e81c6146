#include "player/frame/background_seek.h"

#include <utility>

namespace kmr {

BackgroundSeek::BackgroundSeek(std::function<bool(uint32_t)> seek, std::function<void(uint32_t, bool)> done)
    : seek_(std::move(seek)), done_(std::move(done)) {
  idle_.Set();
}

BackgroundSeek::~BackgroundSeek() {
  {
    platform::MutexLock lock(mu_);
    quit_ = true;
    pending_ = false;
  }
  wake_.Set();
  thread_.Join();
}

bool BackgroundSeek::Request(uint32_t ms) {
  {
    platform::MutexLock lock(mu_);
    target_ = ms;  // a seek still waiting is replaced
    pending_ = true;
    idle_.Reset();
    if (!started_) started_ = thread_.Start([this] { Run(); });
    if (!started_) pending_ = false;
  }
  if (!started_) {
    const bool ok = seek_(ms);
    done_(ms, ok);
    idle_.Set();
    return false;
  }
  wake_.Set();
  return true;
}

bool BackgroundSeek::Busy() {
  platform::MutexLock lock(mu_);
  return pending_ || running_;
}

void BackgroundSeek::WaitIdle() { idle_.WaitForever(); }

void BackgroundSeek::Run() {
  for (;;) {
    wake_.WaitForever();
    for (;;) {
      uint32_t target = 0;
      {
        platform::MutexLock lock(mu_);
        if (quit_) {
          running_ = false;
          idle_.Set();
          return;
        }
        if (!pending_) {
          running_ = false;
          idle_.Set();
          break;
        }
        target = target_;
        pending_ = false;
        running_ = true;
      }
      const bool ok = seek_(target);
      done_(target, ok);
    }
  }
}

}  // namespace kmr
