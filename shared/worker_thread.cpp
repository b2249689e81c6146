#include "shared/worker_thread.h"

namespace kmr {

namespace {
// A paused worker looks at the running flag at least this often.
constexpr uint32_t kPausedWakeMs = 1000;
}  // namespace

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() {
  // Subclasses stop their thread in their own destructors, before their hooks
  // go away; this is the last line of defence for the ones that do not.
  Stop();
}

bool WorkerThread::Start() {
  if (IsRunning() || thread_.Joinable()) Stop();

  {
    platform::MutexLock lock(state_mu_);
    stop_requested_ = false;
  }
  started_.Reset();
  started_ok_.store(false);
  finished_.Reset();
  if (!thread_.Start([this] { ThreadMain(); })) {
    Stop();
    return false;
  }

  // Whichever comes first: OnStart's success or the thread's end.
  const bool ok = started_.Wait(stop_timeout_ms_) && started_ok_.load();
  if (!ok) Stop();
  return ok;
}

void WorkerThread::ThreadMain() {
  exit_code_.store(Run());
  finished_.Set();
  started_.Set();  // a thread that ended before starting releases Start too
}

uint32_t WorkerThread::Run() {
  uint32_t code = kExitFailed;
  bool started = OnStart();
  if (started) {
    platform::MutexLock lock(state_mu_);
    if (stop_requested_) {
      started = false;  // Start gave up waiting; leave at once
    } else {
      running_.store(1);
      const bool paused = start_paused_.exchange(false);
      if (paused) resume_event_.Reset();
      paused_.store(paused ? 1 : 0);
      resume_consumed_.store(resume_requests_.load());
      started_ok_.store(true);
      started_.Set();
    }
  }
  if (started) {
    for (;;) {
      if (running_.load() == 0) {
        code = kExitOk;
        break;
      }
      if (paused_.load() != 0) {
        resume_event_.Wait(kPausedWakeMs);
        continue;
      }
      const uint32_t seen = resume_requests_.load();
      if (!Step()) {
        code = kExitFailed;
        break;
      }
      resume_consumed_.store(seen);
    }
  }
  OnStop();
  running_.store(0);
  paused_.store(0);
  resume_consumed_.store(resume_requests_.load());
  return code;
}

void WorkerThread::Stop() {
  {
    platform::MutexLock lock(state_mu_);
    stop_requested_ = true;
    running_.store(0);
    paused_.store(0);
    resume_consumed_.store(resume_requests_.load());
  }
  // Wake a paused worker at once instead of at its next one-second look.
  resume_event_.Set();
  if (!thread_.Joinable()) return;
  if (thread_.IsCurrent()) {
    // Called from a hook on the worker itself: the loop sees the cleared flag
    // and ends; the next Start or the destructor collects the thread.
    return;
  }
  // A worker that has not ended after the stop timeout is never killed: it may
  // be in the middle of a write or hold a lock. Keep waiting for it.
  if (!finished_.Wait(stop_timeout_ms_)) finished_.WaitForever();
  thread_.Join();
}

bool WorkerThread::Pause() {
  if (!IsRunning()) return false;
  paused_.store(1);
  resume_event_.Reset();
  return true;
}

bool WorkerThread::Resume() {
  if (!IsRunning()) return false;
  paused_.store(0);
  resume_requests_.fetch_add(1);
  resume_event_.Set();
  return true;
}

}  // namespace kmr
