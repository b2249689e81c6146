#include "driver/quarn_protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::vector<QuarnRect> Drain(uint8_t* ring) {
  std::vector<QuarnRect> out;
  quarn_ring_drain(
      ring, [](void* ctx, const QuarnRect* r) { static_cast<std::vector<QuarnRect>*>(ctx)->push_back(*r); }, &out);
  return out;
}

std::vector<uint8_t> NewRing(uint32_t capacity) {
  std::vector<uint8_t> ring(quarn_ring_bytes(capacity) + 4, 0xCC);  // aligned storage from vector
  quarn_ring_init(ring.data(), capacity);
  return ring;
}

TEST(QuarnProtocol, ModeWordAndSizes) {
  EXPECT_EQ(quarn_mode_word(1280, 1024, 32), 0x20400500u);
  EXPECT_EQ(quarn_ring_bytes(8192), 131084u);
  EXPECT_EQ(quarn_ring_bytes(0), 0u);
  uint8_t reply[8];
  quarn_store_mapping_reply(reply, 0x12345678, 0x9ABCDEF0);
  EXPECT_EQ(reply[0], 0x78);
  EXPECT_EQ(quarn_mapping_reply_word(reply, 1), 0x9ABCDEF0u);
}

TEST(QuarnRing, NewRingIsZeroButTheCapacity) {
  auto ring = NewRing(4);
  EXPECT_EQ(quarn_ring_capacity(ring.data()), 4u);
  for (size_t i = 4; i < quarn_ring_bytes(4); ++i) ASSERT_EQ(ring[i], 0) << i;
  EXPECT_TRUE(Drain(ring.data()).empty());
  EXPECT_EQ(quarn_ring_read_sequence(ring.data()), 0u);
}

TEST(QuarnRing, FirstRectangleLandsInSlotOneAndDrainsInOrder) {
  auto ring = NewRing(8192);
  for (int i = 0; i < 8193; ++i) {
    QuarnRect r{i, i, i + 1, i + 1};
    quarn_ring_add(ring.data(), &r);
  }
  EXPECT_EQ(quarn_ring_write_sequence(ring.data()), 8193u);
  // Slot 1 holds the newest.
  EXPECT_EQ(ring[12 + 16], 8192 & 0xFF);
  EXPECT_EQ(ring[12 + 16 + 1], 8192 >> 8);
  // More than capacity between drains: write - read rectangles still come out.
  const auto got = Drain(ring.data());
  EXPECT_EQ(got.size(), 8193u);
  EXPECT_EQ(got.back().left, 8192);
  EXPECT_EQ(quarn_ring_read_sequence(ring.data()), 8193u);
  EXPECT_TRUE(Drain(ring.data()).empty());
}

TEST(QuarnRing, SequenceWrapsPast32Bits) {
  auto ring = NewRing(16);
  uint8_t* p = ring.data();
  // Both sequences just below 2^32.
  for (int k = 0; k < 4; ++k) p[4 + k] = p[8 + k] = 0xFF;
  p[4] = p[8] = 0xFD;
  for (int i = 0; i < 5; ++i) {
    QuarnRect r{i, 0, i + 10, 10};
    quarn_ring_add(p, &r);
  }
  EXPECT_EQ(quarn_ring_write_sequence(p), 2u);
  const auto got = Drain(p);
  ASSERT_EQ(got.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i].left, i);
  EXPECT_EQ(quarn_ring_read_sequence(p), 2u);
}

TEST(QuarnRing, CapacityZeroIsNeverDividedBy) {
  std::vector<uint8_t> ring(64, 0);
  QuarnRect r{1, 2, 3, 4};
  quarn_ring_add(ring.data(), &r);
  quarn_ring_store(ring.data(), 0, 5, &r);
  EXPECT_EQ(quarn_ring_drain(ring.data(), nullptr, nullptr), 0u);
}

// Writers on several threads never take the same slot.
TEST(QuarnRing, ConcurrentWritersTakeDistinctSlots) {
  auto ring = NewRing(4096);
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 1000; ++i) {
        QuarnRect r{t, i, t + 1, i + 1};
        quarn_ring_add(ring.data(), &r);
      }
    });
  }
  for (auto& w : writers) w.join();
  const auto got = Drain(ring.data());
  ASSERT_EQ(got.size(), 4000u);
  std::vector<int> seen(4000, 0);
  for (const auto& r : got) ++seen[r.left * 1000 + r.top];
  for (int v : seen) EXPECT_EQ(v, 1);
}

}  // namespace
