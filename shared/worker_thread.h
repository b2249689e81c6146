// Base of every long-lived thread object in the recorder and the player: one
// operating-system thread that runs Step in a loop and can be started,
// stopped, paused and resumed from the controlling (user interface) thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/sync/sync.h"
#include "shared/event.h"

namespace kmr {

class WorkerThread {
 public:
  static constexpr uint32_t kExitOk = 0;
  static constexpr uint32_t kExitFailed = 0xFFFFFFFFu;

  WorkerThread();
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs the thread; true once OnStart has succeeded on the new thread.
  virtual bool Start();
  // Ends the thread and waits for it.
  virtual void Stop();
  // Both return false when the thread is not running.
  virtual bool Pause();
  virtual bool Resume();

  bool IsRunning() const { return running_.load() != 0; }
  bool IsPaused() const { return paused_.load() != 0; }
  // Set by Resume, cleared after every completed step: the interval since the
  // previous step contains a pause. A resume that arrives while a step is
  // finishing is kept for the next step rather than cleared with it.
  bool IsResumed() const { return resume_requests_.load() != resume_consumed_.load(); }

  void Lock() { lock_.Lock(); }
  void Unlock() { lock_.Unlock(); }

  // Exit code of the last thread that ended: 0 after a stop, 0xFFFFFFFF after a
  // failing OnStart or Step.
  uint32_t ExitCode() const { return exit_code_.load(); }

  uint32_t StopTimeoutMs() const { return stop_timeout_ms_; }

 protected:
  // Hooks, run on the worker thread.
  virtual bool OnStart() { return true; }
  virtual void OnStop() {}
  virtual bool Step() = 0;
  // The thread body; calls the hooks.
  virtual uint32_t Run();
  // The next Start leaves the thread paused before its first step (Resume
  // lets it go); for a restart that must keep a pause without a step between.
  void StartPausedNext() { start_paused_.store(true); }

 private:
  void ThreadMain();

  platform::Mutex lock_;
  uint32_t stop_timeout_ms_ = 5000;
  std::atomic<uint32_t> running_{0};
  // Signalled when OnStart has succeeded or the thread has ended, whichever
  // comes first; started_ok_ tells which.
  ManualResetEvent started_;
  std::atomic<bool> started_ok_{false};
  // Orders a Stop against a thread that is just leaving OnStart, so that a
  // stopped object never turns running again behind the controller's back.
  platform::Mutex state_mu_;
  bool stop_requested_ = false;
  std::atomic<uint32_t> paused_{0};
  std::atomic<bool> start_paused_{false};
  ManualResetEvent resume_event_;
  // The resumed flag as a count of Resume calls and the count the last
  // completed step had seen.
  std::atomic<uint32_t> resume_requests_{0};
  std::atomic<uint32_t> resume_consumed_{0};
  platform::Thread thread_;
  ManualResetEvent finished_;
  std::atomic<uint32_t> exit_code_{kExitOk};
};

}  // namespace kmr
