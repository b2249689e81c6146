// The PulseAudio sound output against a private server with a null sink:
// what is written is played out before the output says so (not while
// paused), and pause, restart, reset and the end's question from another
// thread never meet a Close that frees the loop.
#include "player/audio/linux/pulse_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "shared/testing/pulse_server.h"
#include "shared/testing/temp_dir.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

class PulseOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pulse_ = std::make_unique<testing::PulseServer>(dir_.File("pulse"));
    if (!pulse_->Ready()) GTEST_SKIP() << "PulseAudio cannot be started here";
    pulse_->UseFromHere();
  }
  testing::TempDir dir_;
  std::unique_ptr<testing::PulseServer> pulse_;
};

TEST_F(PulseOutputTest, WhatWasWrittenIsPlayedOutAndAPauseHoldsIt) {
  PulseOutput out;
  ASSERT_TRUE(out.Open(22050, 2)) << out.Error();
  const std::vector<int16_t> half_second(22050, 1000);  // 11025 frames
  ASSERT_TRUE(out.Write(half_second.data(), 11025)) << out.Error();
  out.Pause();
  EXPECT_FALSE(out.PlayedOut()) << "paused with half a second queued";
  // Still held a moment later: the pause holds the sound.
  EXPECT_FALSE(testing::WaitUntil([&] { return out.PlayedOut(); }, std::chrono::milliseconds(800)));
  out.Restart();
  EXPECT_TRUE(testing::WaitUntil([&] { return out.PlayedOut(); })) << "played to its end";
  // Written again after the drain: played out again.
  ASSERT_TRUE(out.Write(half_second.data(), 11025)) << out.Error();
  EXPECT_TRUE(testing::WaitUntil([&] { return out.PlayedOut(); }));
  out.Close();
  EXPECT_TRUE(out.PlayedOut()) << "a closed output has nothing left";
}

// The decoder's thread opens, writes and closes over and over while the
// interface's thread pauses, restarts, resets and asks (AddressSanitizer
// sees any use of a freed loop; a hang fails the deadline).
TEST_F(PulseOutputTest, AnotherThreadNeverMeetsAFreedLoop) {
  PulseOutput out;
  std::atomic<bool> done{false};
  std::atomic<int> opened{0};
  std::thread decoder([&] {
    const std::vector<int16_t> block(2205 * 2, 500);  // 100 ms
    for (int i = 0; i < 25; ++i) {
      if (!out.Open(22050, 2)) break;
      ++opened;
      out.Write(block.data(), 2205);
      out.Close();
    }
    done = true;
  });
  std::thread ui([&] {
    for (int i = 0; !done.load(); ++i) {
      switch (i % 5) {
        case 0: out.Pause(); break;
        case 1: out.Restart(); break;
        case 2: out.Reset(); break;
        case 3: out.PlayedOut(); break;
        default: out.IsOpen(); break;
      }
    }
  });
  EXPECT_TRUE(testing::WaitUntil([&] { return done.load(); }, std::chrono::seconds(60)));
  // A write held by a pause the other thread left in place ends on Interrupt.
  if (!done.load()) out.Interrupt();
  decoder.join();
  ui.join();
  EXPECT_EQ(opened.load(), 25);
}

}  // namespace
}  // namespace kmr
