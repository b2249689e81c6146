#include "shared/packet_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace kmr {
namespace {

TEST(PacketQueue, PopOnFreshQueueFailsAtOnce) {
  PacketQueue<int> q(50, 0);
  int* out = nullptr;
  EXPECT_FALSE(q.Pop(&out));
}

TEST(PacketQueue, UninitializedQueueRefusesEverything) {
  PacketQueue<int> q;
  int a = 1;
  int* out = nullptr;
  EXPECT_FALSE(q.Push(&a));
  EXPECT_FALSE(q.Pop(&out));
  EXPECT_FALSE(q.CloseQueue());
  EXPECT_FALSE(q.ReopenQueue());
}

TEST(PacketQueue, NullItemIsRefused) {
  PacketQueue<int> q(4, 0);
  EXPECT_FALSE(q.Push(nullptr));
  EXPECT_EQ(q.Count(), 0u);
}

TEST(PacketQueue, ClosedQueueDeliversRemainingItemsInOrderThenFails) {
  PacketQueue<int> q(10, 0);
  ASSERT_TRUE(q.ReopenQueue());
  int a = 1, b = 2, c = 3;
  ASSERT_TRUE(q.Push(&a));
  ASSERT_TRUE(q.Push(&b));
  ASSERT_TRUE(q.Push(&c));
  ASSERT_TRUE(q.CloseQueue());
  int* out = nullptr;
  ASSERT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &a);
  ASSERT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &b);
  ASSERT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &c);
  EXPECT_FALSE(q.Pop(&out));
  EXPECT_EQ(q.Count(), 0u);
}

TEST(PacketQueue, FullQueueWithoutRetryRejectsAndKeepsItsItems) {
  PacketQueue<int> q(50, 0);
  ASSERT_TRUE(q.ReopenQueue());
  std::vector<int> items(51);
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(q.Push(&items[i]));
  EXPECT_FALSE(q.Push(&items[50]));
  EXPECT_EQ(q.Count(), 50u);
  q.CloseQueue();
  int* out = nullptr;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(q.Pop(&out));
    EXPECT_EQ(out, &items[i]);
  }
  EXPECT_FALSE(q.Pop(&out));
}

TEST(PacketQueue, PopBlocksUntilAnItemArrives) {
  PacketQueue<int> q(4, 0);
  ASSERT_TRUE(q.ReopenQueue());
  int a = 7;
  std::atomic<bool> popped{false};
  std::thread consumer([&] {
    int* out = nullptr;
    EXPECT_TRUE(q.Pop(&out));
    EXPECT_EQ(out, &a);
    popped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(popped.load());
  ASSERT_TRUE(q.Push(&a));
  consumer.join();
  EXPECT_TRUE(popped.load());
}

TEST(PacketQueue, CloseReleasesABlockedPop) {
  PacketQueue<int> q(4, 0);
  ASSERT_TRUE(q.ReopenQueue());
  std::thread consumer([&] {
    int* out = nullptr;
    EXPECT_FALSE(q.Pop(&out));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  q.CloseQueue();
  consumer.join();
}

TEST(PacketQueue, RetryingPusherWaitsForRoom) {
  PacketQueue<int> q(2, 5);
  ASSERT_TRUE(q.ReopenQueue());
  int a = 1, b = 2, c = 3;
  ASSERT_TRUE(q.Push(&a));
  ASSERT_TRUE(q.Push(&b));
  std::atomic<bool> pushed{false};
  std::thread pusher([&] {
    EXPECT_TRUE(q.Push(&c));
    pushed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_FALSE(pushed.load());
  int* out = nullptr;
  ASSERT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &a);
  pusher.join();
  ASSERT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &b);
  ASSERT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &c);
}

TEST(PacketQueue, ReopenedQueueBlocksAgain) {
  PacketQueue<int> q(4, 0);
  ASSERT_TRUE(q.ReopenQueue());
  ASSERT_TRUE(q.CloseQueue());
  ASSERT_TRUE(q.ReopenQueue());
  int a = 1;
  std::thread pusher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    q.Push(&a);
  });
  int* out = nullptr;
  EXPECT_TRUE(q.Pop(&out));
  EXPECT_EQ(out, &a);
  pusher.join();
}

// Several pushers, one popper, the queue closed while they push: every item is
// popped exactly once, or is still owned by the pusher whose Push said false.
TEST(PacketQueue, StressCloseWhilePushing) {
  constexpr int kPushers = 4;
  constexpr int kPerPusher = 5000;
  PacketQueue<int> q(64, 0);
  ASSERT_TRUE(q.ReopenQueue());
  std::vector<int> items(kPushers * kPerPusher);
  std::vector<std::vector<int*>> rejected(kPushers);
  std::vector<int*> popped;
  popped.reserve(items.size());

  std::thread consumer([&] {
    int* out = nullptr;
    while (q.Pop(&out)) popped.push_back(out);
  });
  std::vector<std::thread> pushers;
  for (int p = 0; p < kPushers; ++p) {
    pushers.emplace_back([&, p] {
      for (int i = 0; i < kPerPusher; ++i) {
        int* item = &items[p * kPerPusher + i];
        if (!q.Push(item)) rejected[p].push_back(item);
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  q.CloseQueue();
  for (auto& t : pushers) t.join();
  consumer.join();
  // Whatever was pushed after the consumer ended is drained by the owner.
  int* out = nullptr;
  while (q.Pop(&out)) popped.push_back(out);

  std::multiset<int*> seen(popped.begin(), popped.end());
  for (auto& r : rejected) seen.insert(r.begin(), r.end());
  ASSERT_EQ(seen.size(), items.size());
  for (auto& item : items) EXPECT_EQ(seen.count(&item), 1u);
  EXPECT_EQ(q.Count(), 0u);
}

}  // namespace
}  // namespace kmr
