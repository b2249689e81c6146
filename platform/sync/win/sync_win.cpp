#include <windows.h>

#include "platform/sync/sync.h"

namespace kmr::platform {

struct Mutex::Impl {
  CRITICAL_SECTION cs;
};
Mutex::Mutex() : impl_(std::make_unique<Impl>()) { InitializeCriticalSection(&impl_->cs); }
Mutex::~Mutex() { DeleteCriticalSection(&impl_->cs); }
void Mutex::Lock() { EnterCriticalSection(&impl_->cs); }
void Mutex::Unlock() { LeaveCriticalSection(&impl_->cs); }

struct Event::Impl {
  HANDLE h = nullptr;
};
Event::Event(bool manual_reset) : impl_(std::make_unique<Impl>()) {
  impl_->h = CreateEventA(nullptr, manual_reset ? TRUE : FALSE, FALSE, nullptr);
}
Event::~Event() {
  if (impl_->h != nullptr) CloseHandle(impl_->h);
}
void Event::Set() { SetEvent(impl_->h); }
void Event::Reset() { ResetEvent(impl_->h); }
bool Event::Wait(uint32_t timeout_ms) { return WaitForSingleObject(impl_->h, timeout_ms) == WAIT_OBJECT_0; }
void Event::WaitForever() { WaitForSingleObject(impl_->h, INFINITE); }
bool Event::IsSet() { return WaitForSingleObject(impl_->h, 0) == WAIT_OBJECT_0; }

struct Thread::Impl {
  HANDLE h = nullptr;
  DWORD id = 0;
  std::function<void()> body;
  static DWORD WINAPI Main(void* p) {
    static_cast<Impl*>(p)->body();
    return 0;
  }
};
Thread::Thread() : impl_(std::make_unique<Impl>()) {}
Thread::~Thread() { Join(); }
bool Thread::Start(std::function<void()> body) {
  if (impl_->h != nullptr) return false;
  impl_->body = std::move(body);
  impl_->h = CreateThread(nullptr, 0, &Impl::Main, impl_.get(), 0, &impl_->id);
  return impl_->h != nullptr;
}
bool Thread::Joinable() const { return impl_->h != nullptr; }
void Thread::Join() {
  if (impl_->h == nullptr || IsCurrent()) return;
  WaitForSingleObject(impl_->h, INFINITE);
  CloseHandle(impl_->h);
  impl_->h = nullptr;
  impl_->body = nullptr;
}
bool Thread::IsCurrent() const { return impl_->h != nullptr && GetCurrentThreadId() == impl_->id; }

void SleepMs(uint32_t ms) { Sleep(ms); }

}  // namespace kmr::platform
