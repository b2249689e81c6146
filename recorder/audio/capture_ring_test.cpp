// The capture ring as a wave-input device drives it: steady state, a
// buffer that cannot be queued, empty and repeated notices.
#include "recorder/audio/capture_ring.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kmr {
namespace {

using State = CaptureRing::State;

void QueueAll(CaptureRing* ring, std::vector<size_t> refused = {}) {
  for (size_t i : ring->ToQueue()) {
    if (std::find(refused.begin(), refused.end(), i) == refused.end()) ring->Queued(i);
  }
}

TEST(CaptureRing, InTurnTheDeviceHoldsAllButTheOneTheCallerHas) {
  CaptureRing ring(4);
  QueueAll(&ring);
  EXPECT_EQ(ring.QueuedCount(), 4u);
  for (size_t turn = 0; turn < 12; ++turn) {
    const size_t n = turn % 4;
    ASSERT_TRUE(ring.Done(n, true));
    QueueAll(&ring);
    EXPECT_EQ(ring.At(n), State::kHeld);
    EXPECT_EQ(ring.QueuedCount(), 3u) << turn;
    ring.Released(n);  // the caller asks for the next one
    if (turn == 0) {
      EXPECT_EQ(ring.ToQueue(), (std::vector<size_t>{0}));
    }
  }
}

// A buffer the system refused stays free and is tried again; a buffer the
// device holds is never in the list to queue, whatever came before.
TEST(CaptureRing, ARefusedBufferIsTriedAgainAndAHeldOneNeverQueuedTwice) {
  CaptureRing ring(4);
  QueueAll(&ring, {2});
  EXPECT_EQ(ring.At(2), State::kFree);
  EXPECT_EQ(ring.ToQueue(), (std::vector<size_t>{2}));
  ASSERT_TRUE(ring.Done(0, true));
  const auto next = ring.ToQueue();
  EXPECT_EQ(next, (std::vector<size_t>{2})) << "buffers 1 and 3 are still the device's";
  QueueAll(&ring);
  EXPECT_EQ(ring.QueuedCount(), 3u);
  ring.Released(0);
  EXPECT_EQ(ring.ToQueue(), (std::vector<size_t>{0}));
}

TEST(CaptureRing, AnEmptyBufferIsFreeAtOnceAndAStaleNoticeChangesNothing) {
  CaptureRing ring(3);
  QueueAll(&ring);
  ASSERT_TRUE(ring.Done(1, false));
  EXPECT_EQ(ring.At(1), State::kFree) << "nothing for the caller";
  EXPECT_EQ(ring.ToQueue(), (std::vector<size_t>{1}));
  QueueAll(&ring);
  EXPECT_EQ(ring.QueuedCount(), 3u);
  ASSERT_TRUE(ring.Done(2, true));
  EXPECT_FALSE(ring.Done(2, true)) << "told twice";
  EXPECT_EQ(ring.At(2), State::kHeld);
  ring.Released(2);
  EXPECT_FALSE(ring.Done(2, true)) << "free: the device does not hold it";
  EXPECT_FALSE(ring.Done(7, true));
  ring.Released(0);  // the device's: the caller cannot give it back
  EXPECT_EQ(ring.At(0), State::kQueued);
}

}  // namespace
}  // namespace kmr
