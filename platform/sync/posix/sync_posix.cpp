#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/sync/sync.h"

namespace kmr::platform {

struct Mutex::Impl {
  std::recursive_mutex m;
};
Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;
void Mutex::Lock() { impl_->m.lock(); }
void Mutex::Unlock() { impl_->m.unlock(); }

struct Event::Impl {
  std::mutex m;
  std::condition_variable cv;
  bool manual = true;
  bool signalled = false;
};
Event::Event(bool manual_reset) : impl_(std::make_unique<Impl>()) { impl_->manual = manual_reset; }
Event::~Event() = default;
void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(impl_->m);
    impl_->signalled = true;
  }
  if (impl_->manual) {
    impl_->cv.notify_all();
  } else {
    impl_->cv.notify_one();
  }
}
void Event::Reset() {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->signalled = false;
}
bool Event::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(impl_->m);
  if (!impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return impl_->signalled; })) {
    return false;
  }
  if (!impl_->manual) impl_->signalled = false;
  return true;
}
void Event::WaitForever() {
  std::unique_lock<std::mutex> lock(impl_->m);
  impl_->cv.wait(lock, [this] { return impl_->signalled; });
  if (!impl_->manual) impl_->signalled = false;
}
bool Event::IsSet() {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->signalled;
}

struct Thread::Impl {
  std::thread t;
};
Thread::Thread() : impl_(std::make_unique<Impl>()) {}
Thread::~Thread() {
  Join();
  if (impl_->t.joinable()) impl_->t.detach();  // only when the thread ends itself
}
bool Thread::Start(std::function<void()> body) {
  if (impl_->t.joinable()) return false;
  try {
    impl_->t = std::thread(std::move(body));
  } catch (...) {
    return false;
  }
  return true;
}
bool Thread::Joinable() const { return impl_->t.joinable(); }
void Thread::Join() {
  if (impl_->t.joinable() && impl_->t.get_id() != std::this_thread::get_id()) impl_->t.join();
}
bool Thread::IsCurrent() const { return impl_->t.joinable() && impl_->t.get_id() == std::this_thread::get_id(); }

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kmr::platform
