// Where a writer posts the message that its thread stopped because a write
// failed. On Windows a window (PostMessage with both parameters 0); elsewhere
// any receiver, for example the Linux recorder's main loop or a test.
#pragma once

#include <cstdint>
#include <functional>

namespace kmr::platform {

class NotifyTarget {
 public:
  virtual ~NotifyTarget() = default;
  // Posts the message without waiting for it to be handled.
  virtual void Post(uint32_t message) = 0;
};

// Calls a function on the posting thread; the function must not block.
class CallbackNotifyTarget : public NotifyTarget {
 public:
  explicit CallbackNotifyTarget(std::function<void(uint32_t)> fn) : fn_(std::move(fn)) {}
  void Post(uint32_t message) override {
    if (fn_) fn_(message);
  }

 private:
  std::function<void(uint32_t)> fn_;
};

}  // namespace kmr::platform
