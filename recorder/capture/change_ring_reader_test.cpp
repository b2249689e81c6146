#include "recorder/capture/change_ring_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace kmr {
namespace {

bool operator==(const QuarnRect& a, const QuarnRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class RingTest : public ::testing::Test {
 protected:
  explicit RingTest(uint32_t capacity = 16) : ring_(quarn_ring_bytes(capacity)) {
    quarn_ring_init(ring_.data(), capacity);
  }
  std::vector<QuarnRect> Drain(ChangeRingReader::Result* result = nullptr) {
    std::vector<QuarnRect> got;
    const auto r = reader_.Drain(ring_.data(), [&](const QuarnRect& q) { got.push_back(q); });
    if (result != nullptr) *result = r;
    return got;
  }
  static bool Has(const std::vector<QuarnRect>& v, const QuarnRect& r) {
    for (const auto& q : v) {
      if (q == r) return true;
    }
    return false;
  }
  std::vector<uint8_t> ring_;
  ChangeRingReader reader_;
};

// A drawing thread takes its number, another thread draws, the recorder
// drains, and only then does the first thread store its rectangle: the next
// drain still sees it.
TEST_F(RingTest, ARectangleStoredAfterTheDrainThatPassedItIsSeenAtTheNext) {
  const QuarnRect late{10, 20, 30, 40}, quick{1, 2, 3, 4};
  const uint32_t taken = quarn_ring_next_sequence(ring_.data());
  quarn_ring_add(ring_.data(), &quick);
  auto first = Drain();
  EXPECT_TRUE(Has(first, quick));
  EXPECT_FALSE(Has(first, late));
  quarn_ring_store(ring_.data(), quarn_ring_capacity(ring_.data()), taken, &late);
  auto second = Drain();
  EXPECT_TRUE(Has(second, late)) << "the late rectangle was never seen";
  EXPECT_FALSE(Has(second, quick)) << "a rectangle read whole is not delivered twice";
  EXPECT_TRUE(Drain().empty());
}

TEST_F(RingTest, RectanglesComeOldestFirst) {
  for (int i = 0; i < 5; ++i) {
    const QuarnRect r{i, 0, i + 1, 1};
    quarn_ring_add(ring_.data(), &r);
  }
  ChangeRingReader::Result result;
  auto got = Drain(&result);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(result.rectangles, 5u);
  EXPECT_FALSE(result.overflowed);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i].left, i);
  EXPECT_EQ(quarn_ring_read_sequence(ring_.data()), 5u);
}

// A long stall: the writer went round the ring three times. The overflow is
// judged from the same snapshot as the drain, and no stale rectangle is
// merged (the whole surface is changed anyway).
TEST_F(RingTest, AnOverflowDeliversNothingAndCatchesUp) {
  for (int i = 0; i < 48; ++i) {
    const QuarnRect r{i, 0, i + 1, 1};
    quarn_ring_add(ring_.data(), &r);
  }
  ChangeRingReader::Result result;
  EXPECT_TRUE(Drain(&result).empty());
  EXPECT_TRUE(result.overflowed);
  EXPECT_EQ(quarn_ring_read_sequence(ring_.data()), 48u);
  const QuarnRect next{99, 0, 100, 1};
  quarn_ring_add(ring_.data(), &next);
  auto after = Drain(&result);
  EXPECT_FALSE(result.overflowed);
  EXPECT_TRUE(Has(after, next));
}

TEST_F(RingTest, ExactlyAFullRingIsNoOverflow) {
  for (int i = 0; i < 16; ++i) {
    const QuarnRect r{i, 0, i + 1, 1};
    quarn_ring_add(ring_.data(), &r);
  }
  ChangeRingReader::Result result;
  EXPECT_EQ(Drain(&result).size(), 16u);
  EXPECT_FALSE(result.overflowed);
}

}  // namespace
}  // namespace kmr
