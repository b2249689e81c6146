// Seeks off the interface's thread: a request returns while the seek is
// still decoding, requests made meanwhile are replaced by the newest, and
// the last one always runs.
#include "player/frame/background_seek.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "shared/testing/wait.h"

namespace kmr {
namespace {

// A seek that decodes until the test lets it go.
struct GatedSeeks {
  platform::Event gate{true};
  platform::Event entered{true};
  std::mutex mu;
  std::vector<uint32_t> seeks, done;
  bool Seek(uint32_t ms) {
    {
      std::lock_guard<std::mutex> lock(mu);
      seeks.push_back(ms);
    }
    entered.Set();
    gate.WaitForever();
    return ms <= 5000;
  }
  std::vector<uint32_t> Seeks() {
    std::lock_guard<std::mutex> lock(mu);
    return seeks;
  }
};

TEST(BackgroundSeek, ARequestReturnsWhileTheSeekDecodes) {
  GatedSeeks g;
  std::vector<std::pair<uint32_t, bool>> finished;
  std::mutex mu;
  BackgroundSeek seek([&](uint32_t ms) { return g.Seek(ms); },
                      [&](uint32_t ms, bool ok) {
                        std::lock_guard<std::mutex> lock(mu);
                        finished.push_back({ms, ok});
                      });
  EXPECT_FALSE(seek.Busy());
  ASSERT_TRUE(seek.Request(1000));  // returns with the seek held at its gate
  ASSERT_TRUE(g.entered.Wait(10000));
  EXPECT_TRUE(seek.Busy());
  // The drag goes on: each newer place replaces the one waiting.
  for (uint32_t ms = 1100; ms <= 9000; ms += 100) ASSERT_TRUE(seek.Request(ms));
  g.gate.Set();
  seek.WaitIdle();
  EXPECT_FALSE(seek.Busy());
  EXPECT_EQ(g.Seeks(), (std::vector<uint32_t>{1000, 9000})) << "only the first and the newest ran";
  std::lock_guard<std::mutex> lock(mu);
  EXPECT_EQ(finished, (std::vector<std::pair<uint32_t, bool>>{{1000, true}, {9000, false}}));
}

TEST(BackgroundSeek, EachRequestAfterTheLastSeekEndedRuns) {
  GatedSeeks g;
  g.gate.Set();
  BackgroundSeek seek([&](uint32_t ms) { return g.Seek(ms); }, [](uint32_t, bool) {});
  for (uint32_t ms : {300u, 200u, 100u}) {
    ASSERT_TRUE(seek.Request(ms));
    seek.WaitIdle();
  }
  EXPECT_EQ(g.Seeks(), (std::vector<uint32_t>{300, 200, 100}));
}

// Gone while a seek still decodes: the seek ends, nothing waiting runs.
TEST(BackgroundSeek, EndsAfterTheSeekThatRuns) {
  GatedSeeks g;
  {
    BackgroundSeek seek([&](uint32_t ms) { return g.Seek(ms); }, [](uint32_t, bool) {});
    ASSERT_TRUE(seek.Request(1));
    ASSERT_TRUE(g.entered.Wait(10000));
    seek.Request(2);
    g.gate.Set();
  }
  EXPECT_LE(g.Seeks().size(), 2u);
  EXPECT_EQ(g.Seeks().front(), 1u);
}

}  // namespace
}  // namespace kmr
