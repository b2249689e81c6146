#include "recorder/outputs/media_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "shared/event.h"

namespace kmr {
namespace {

using namespace std::chrono_literals;

class ThreadOnlyWriter : public MediaWriter {
 public:
  ThreadOnlyWriter() : MediaWriter("Test", "tst") {}
  ~ThreadOnlyWriter() override { Close(); }
  bool Open() override { return StartWriterThread(); }
};

// Writes nothing; fails from the fail_from-th packet on; each write can be
// held at a gate to stand for a slow disk.
class ScriptedStream : public MediaStream {
 public:
  bool BindTo(StreamBinder&, uint32_t) override { return true; }
  bool WritePacket(const Packet* packet) override {
    if (hold_writes) gate.WaitForever();
    const int n = ++writes;
    if (!packet->nothing_to_write) payload_bytes += packet->buffer ? packet->buffer->size : 0;
    return fail_from == 0 || n < fail_from;
  }
  std::atomic<int> writes{0};
  std::atomic<uint64_t> payload_bytes{0};
  int fail_from = 0;
  bool hold_writes = false;
  ManualResetEvent gate;
};

TEST(MediaWriter, TextSettersCopyAndRefuseNull) {
  ThreadOnlyWriter w;
  char buf[8];
  EXPECT_FALSE(w.GetPath(buf, sizeof(buf)));
  EXPECT_FALSE(w.SetPath(nullptr));
  ASSERT_TRUE(w.SetPath("/out/recording.exe"));
  ASSERT_TRUE(w.GetPath(buf, sizeof(buf)));
  EXPECT_STREQ(buf, "/out/re");  // capacity - 1 characters and a terminator
  EXPECT_FALSE(w.SetTitle(nullptr));
  EXPECT_TRUE(w.SetTitle("t"));
}

TEST(MediaWriter, AddStreamKeepsOneEntryPerStream) {
  ThreadOnlyWriter w;
  ScriptedStream a, b;
  EXPECT_FALSE(w.AddStream(nullptr));
  EXPECT_TRUE(w.AddStream(&a));
  EXPECT_TRUE(w.AddStream(&b));
  EXPECT_TRUE(w.AddStream(&a));
  ASSERT_EQ(w.Streams().size(), 2u);
  EXPECT_EQ(w.Streams()[0], &a);
  w.ClearStreams();
  EXPECT_TRUE(w.Streams().empty());
}

TEST(MediaWriter, SubmitWithoutWriterFails) {
  ScriptedStream s;
  const uint8_t b = 1;
  EXPECT_FALSE(s.Put({&b, 1, 0, 0}));
}

TEST(MediaWriter, WhatWasSubmittedBeforeTheThreadStartsIsDiscarded) {
  ThreadOnlyWriter w;
  ScriptedStream s;
  s.SetWriter(&w);
  w.AddStream(&s);
  const uint8_t b[3] = {1, 2, 3};
  ASSERT_TRUE(s.Put({b, 3, 0, 10}));
  ASSERT_TRUE(s.Put({b, 3, 10, 10}));
  ASSERT_TRUE(w.Open());
  ASSERT_TRUE(s.Put({b, 2, 20, 10}));
  w.Close();
  EXPECT_EQ(s.writes.load(), 1);
  EXPECT_EQ(s.payload_bytes.load(), 2u);
}

TEST(MediaWriter, CloseDrainsEveryQueuedPacket) {
  ThreadOnlyWriter w;
  ScriptedStream s;
  s.SetWriter(&w);
  w.AddStream(&s);
  ASSERT_TRUE(w.Open());
  const uint8_t b = 9;
  for (uint32_t i = 0; i < 500; ++i) ASSERT_TRUE(s.Put({&b, 1, i, 1}));
  ASSERT_TRUE(s.Put({nullptr, 0, 500, 1}));  // nothing to write, still a packet
  w.Close();
  EXPECT_EQ(s.writes.load(), 501);
  EXPECT_EQ(s.payload_bytes.load(), 500u);
  EXPECT_EQ(s.GetEndTime(), 501u);
}

TEST(MediaWriter, WriteFailurePostsTheMessageOnceAndKeepsRunningUntilClose) {
  ThreadOnlyWriter w;
  ScriptedStream s;
  s.fail_from = 3;
  s.SetWriter(&w);
  w.AddStream(&s);
  std::atomic<int> posted{0};
  platform::CallbackNotifyTarget target([&](uint32_t m) {
    EXPECT_EQ(m, 2027u);
    ++posted;
  });
  w.SetNotify(&target, 2027);
  ASSERT_TRUE(w.Open());
  const uint8_t b = 1;
  for (uint32_t i = 0; i < 10; ++i) s.Put({&b, 1, i, 1});
  for (int i = 0; i < 500 && posted.load() == 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(posted.load(), 1);
  EXPECT_TRUE(w.IsRunning());
  w.Close();
  EXPECT_FALSE(w.IsRunning());
  EXPECT_EQ(s.writes.load(), 3);
}

TEST(MediaWriter, WriteFailureWithoutNotifyEndsTheThread) {
  ThreadOnlyWriter w;
  ScriptedStream s;
  s.fail_from = 1;
  s.SetWriter(&w);
  w.AddStream(&s);
  ASSERT_TRUE(w.Open());
  const uint8_t b = 1;
  s.Put({&b, 1, 0, 1});
  for (int i = 0; i < 500 && w.IsRunning(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(w.IsRunning());
  w.Close();
}

// Producers that wait for room in a full queue are let go when the writer
// thread fails, and every packet left in the queue is freed by Close (the
// sanitizer build checks for leaks).
TEST(MediaWriter, ProducersBlockedOnAFullQueueAreReleasedAfterAWriteFailure) {
  ThreadOnlyWriter w;
  ScriptedStream s;
  s.fail_from = 1;
  s.hold_writes = true;
  s.SetWriter(&w);
  w.AddStream(&s);
  std::atomic<int> posted{0};
  platform::CallbackNotifyTarget target([&](uint32_t) { ++posted; });
  w.SetNotify(&target, 2027);
  ASSERT_TRUE(w.Open());

  std::atomic<int> accepted{0}, refused{0};
  std::vector<std::thread> producers;
  for (int p = 0; p < 2; ++p) {
    producers.emplace_back([&] {
      std::vector<uint8_t> data(64, 1);
      for (uint32_t i = 0; i < 700; ++i) {
        if (s.Put({data.data(), 64, i, 1})) {
          ++accepted;
        } else {
          ++refused;
        }
      }
    });
  }
  // The queue fills up (1000) while the first write is held.
  for (int i = 0; i < 1000 && accepted.load() < 1000; ++i) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(refused.load(), 0);
  EXPECT_LE(accepted.load(), 1001);
  s.gate.Set();  // the write fails
  for (auto& t : producers) t.join();
  EXPECT_EQ(accepted.load() + refused.load(), 1400);
  EXPECT_GT(refused.load(), 0);
  EXPECT_EQ(posted.load(), 1);
  w.Close();
  EXPECT_EQ(s.writes.load(), 1);
}

}  // namespace
}  // namespace kmr
