#include "shared/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kmr {
namespace {

using namespace std::chrono_literals;

class CountingWorker : public WorkerThread {
 public:
  using WorkerThread::StartPausedNext;
  ~CountingWorker() override { Stop(); }
  std::atomic<int> steps{0};
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<int> fail_at_step{-1};
  std::atomic<int> resumed_seen{0};
  bool start_ok = true;
  std::chrono::milliseconds start_delay{0};

 protected:
  bool OnStart() override {
    std::this_thread::sleep_for(start_delay);
    ++starts;
    return start_ok;
  }
  void OnStop() override { ++stops; }
  bool Step() override {
    in_step = true;
    if (IsResumed()) ++resumed_seen;
    const int n = ++steps;
    std::this_thread::sleep_for(1ms);
    in_step = false;
    return n != fail_at_step.load();
  }

 public:
  std::atomic<bool> in_step{false};
};

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(WorkerThread, StartRunsStepsAndStopEndsWithCodeZero) {
  CountingWorker w;
  ASSERT_TRUE(w.Start());
  EXPECT_TRUE(w.IsRunning());
  EXPECT_TRUE(WaitFor([&] { return w.steps.load() > 3; }));
  w.Stop();
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.ExitCode(), WorkerThread::kExitOk);
  EXPECT_EQ(w.starts.load(), 1);
  EXPECT_EQ(w.stops.load(), 1);
}

TEST(WorkerThread, FailingOnStartMakesStartFail) {
  CountingWorker w;
  w.start_ok = false;
  EXPECT_FALSE(w.Start());
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(w.ExitCode(), WorkerThread::kExitFailed);
  EXPECT_EQ(w.steps.load(), 0);
  EXPECT_EQ(w.stops.load(), 1);
}

TEST(WorkerThread, FailingStepEndsWithMinusOne) {
  CountingWorker w;
  w.fail_at_step = 3;
  ASSERT_TRUE(w.Start());
  EXPECT_TRUE(WaitFor([&] { return !w.IsRunning(); }));
  w.Stop();
  EXPECT_EQ(w.ExitCode(), WorkerThread::kExitFailed);
  EXPECT_EQ(w.steps.load(), 3);
  EXPECT_FALSE(w.IsRunning());
}

TEST(WorkerThread, PauseAndResumeOnStoppedThreadReturnFalse) {
  CountingWorker w;
  EXPECT_FALSE(w.Pause());
  EXPECT_FALSE(w.Resume());
  EXPECT_FALSE(w.IsPaused());
  EXPECT_FALSE(w.IsResumed());
  ASSERT_TRUE(w.Start());
  w.Stop();
  EXPECT_FALSE(w.Pause());
  EXPECT_FALSE(w.Resume());
}

TEST(WorkerThread, PausedWorkerTakesNoStepsAndResumeIsSeenOnce) {
  CountingWorker w;
  ASSERT_TRUE(w.Start());
  ASSERT_TRUE(WaitFor([&] { return w.steps.load() > 0; }));
  ASSERT_TRUE(w.Pause());
  EXPECT_TRUE(w.IsPaused());
  // At most the step that had already begun when the pause came runs; none
  // follows it, however slow the machine.
  const int before = w.steps.load();
  std::this_thread::sleep_for(50ms);  // a window in which no further step may start
  ASSERT_TRUE(WaitFor([&] { return !w.in_step.load(); }));
  EXPECT_LE(w.steps.load(), before + 1);
  ASSERT_TRUE(w.Resume());
  EXPECT_FALSE(w.IsPaused());
  EXPECT_TRUE(WaitFor([&] { return w.steps.load() > before + 3; }));
  EXPECT_FALSE(w.IsResumed());  // cleared after the first completed step
  EXPECT_EQ(w.resumed_seen.load(), 1);
  w.Stop();
}

// A restart that keeps a pause: not one step before Resume, and only the
// next start is paused.
TEST(WorkerThread, AStartMadePausedTakesNoStepUntilResumed) {
  CountingWorker w;
  w.StartPausedNext();
  ASSERT_TRUE(w.Start());
  EXPECT_TRUE(w.IsPaused());
  EXPECT_EQ(w.steps.load(), 0);
  ASSERT_TRUE(w.Resume());
  EXPECT_TRUE(WaitFor([&] { return w.steps.load() > 0; }));
  w.Stop();
  ASSERT_TRUE(w.Start());
  EXPECT_FALSE(w.IsPaused());
  EXPECT_TRUE(WaitFor([&] { return w.steps.load() > 2; }));
}

TEST(WorkerThread, StopDuringPauseReturnsPromptlyWithCodeZero) {
  CountingWorker w;
  ASSERT_TRUE(w.Start());
  ASSERT_TRUE(w.Pause());
  const auto t0 = std::chrono::steady_clock::now();
  w.Stop();
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(took, 2500ms);
  EXPECT_EQ(w.ExitCode(), WorkerThread::kExitOk);
  EXPECT_FALSE(w.IsRunning());
  EXPECT_FALSE(w.IsPaused());
}

TEST(WorkerThread, CanBeStartedAgainAfterStop) {
  CountingWorker w;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(w.Start());
    w.Stop();
  }
  EXPECT_EQ(w.starts.load(), 3);
  EXPECT_EQ(w.stops.load(), 3);
}

TEST(WorkerThread, StartWhileRunningRestarts) {
  CountingWorker w;
  ASSERT_TRUE(w.Start());
  ASSERT_TRUE(w.Start());
  EXPECT_EQ(w.starts.load(), 2);
  EXPECT_EQ(w.stops.load(), 1);
  w.Stop();
}

class LockingWorker : public WorkerThread {
 public:
  ~LockingWorker() override { Stop(); }
  std::atomic<int> steps{0};

 protected:
  bool Step() override {
    Lock();
    ++steps;
    Unlock();
    std::this_thread::sleep_for(1ms);
    return true;
  }
};

TEST(WorkerThread, LockHoldsOffTheStep) {
  LockingWorker w;
  ASSERT_TRUE(w.Start());
  w.Lock();  // no step is inside the lock now, and none can enter
  const int held = w.steps.load();
  std::this_thread::sleep_for(30ms);  // a window in which no step may count
  EXPECT_EQ(w.steps.load(), held);
  w.Unlock();
  EXPECT_TRUE(WaitFor([&] { return w.steps.load() > held + 2; }));
  w.Stop();
}

}  // namespace
}  // namespace kmr

namespace kmr {
namespace {

// A step that waits for the test: pause and resume arrive while it runs.
class HeldWorker : public WorkerThread {
 public:
  ~HeldWorker() override {
    gate.Set();
    Stop();
  }
  ManualResetEvent gate;
  std::atomic<int> steps{0};
  std::atomic<int> resumed_steps{0};

 protected:
  bool Step() override {
    if (IsResumed()) ++resumed_steps;
    ++steps;
    gate.Wait(2000);
    return true;
  }
};

TEST(WorkerThread, ResumeDuringAFinishingStepIsSeenByTheNextStep) {
  HeldWorker w;
  ASSERT_TRUE(w.Start());
  while (w.steps.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(w.Pause());
  ASSERT_TRUE(w.Resume());  // both while step 1 still runs
  w.gate.Set();
  while (w.steps.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  w.Stop();
  EXPECT_EQ(w.resumed_steps.load(), 1);
}

}  // namespace
}  // namespace kmr
