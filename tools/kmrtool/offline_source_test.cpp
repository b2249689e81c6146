#include "tools/kmrtool/offline_source.h"

#include <gtest/gtest.h>

#include <random>

namespace kmr {
namespace {

// The key interval counts uncompressed command bytes: once reached, the next
// frame is a key frame and the count starts again with that frame's own size.
TEST(OfflineSource, KeyIntervalForcesKeyFramesAndRestartsTheCount) {
  const int32_t w = 64, h = 32;
  OfflineSource source(w, h, 32, 10);
  const uint64_t key_bytes = 32u * (12 + 64 * 4);  // one key row per row
  source.SetKeyInterval(key_bytes * 2);
  std::vector<uint8_t> frame(source.RawFrameBytes(), 0);
  std::mt19937 rng(3);
  std::vector<bool> keys;
  for (int i = 0; i < 12; ++i) {
    for (int k = 0; k < 400; ++k) frame[rng() % frame.size()] = static_cast<uint8_t>(rng());
    ASSERT_TRUE(source.EncodeFrame(frame.data()));
    keys.push_back(source.IsKeyFrame());
    EXPECT_GT(source.EncodedSize(), 0u);
  }
  EXPECT_TRUE(keys[0]);
  const auto count = std::count(keys.begin(), keys.end(), true);
  EXPECT_GE(count, 3);
  // Never two key frames in a row: a key frame's own bytes are below the interval.
  for (size_t i = 1; i < keys.size(); ++i) EXPECT_FALSE(keys[i] && keys[i - 1]) << i;
}

TEST(OfflineSource, UnchangedFrameGivesNoPacket) {
  OfflineSource source(16, 16, 24, 5);
  std::vector<uint8_t> frame(source.RawFrameBytes(), 9);
  ASSERT_TRUE(source.EncodeFrame(frame.data()));
  EXPECT_TRUE(source.IsKeyFrame());
  ASSERT_TRUE(source.EncodeFrame(frame.data()));
  EXPECT_FALSE(source.IsKeyFrame());
  EXPECT_EQ(source.EncodedSize(), 0u);
}

}  // namespace
}  // namespace kmr
