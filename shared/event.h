// Manual-reset event: stays signalled until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kmr {

class ManualResetEvent {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = false;
  }
  bool IsSet() const {
    std::lock_guard<std::mutex> lock(mu_);
    return signalled_;
  }
  // True when signalled within the time-out.
  bool Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
  }
  void WaitForever() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return signalled_; });
  }

 private:
  mutable std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace kmr
