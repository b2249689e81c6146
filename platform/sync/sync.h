// Threads, locks and events for the system logic. On Windows they are the
// system's own (threads, critical sections, events), so the programs need no
// threading library and start on every Windows the product supports; on
// Linux they are the standard library's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kmr::platform {

// A recursive lock (a critical section).
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.Lock(); }
  ~MutexLock() { m_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

// An event: manual reset stays signalled until Reset; automatic reset lets
// one waiter through and clears itself.
class Event {
 public:
  explicit Event(bool manual_reset = true);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  void Set();
  void Reset();
  // True when signalled within the time-out.
  bool Wait(uint32_t timeout_ms);
  void WaitForever();
  // Manual-reset events only: whether it is signalled now.
  bool IsSet();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One operating-system thread running a function.
class Thread {
 public:
  Thread();
  ~Thread();  // joins a thread still running
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // False when the thread cannot be made (or one is still joinable).
  bool Start(std::function<void()> body);
  bool Joinable() const;
  // Waits for the thread to end; nothing when there is none.
  void Join();
  // Whether the caller is this thread.
  bool IsCurrent() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

void SleepMs(uint32_t ms);

}  // namespace kmr::platform
