#include "recorder/capture/capture_rect.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

TEST(CaptureRect, ClampedToTheSurface) {
  EXPECT_EQ(CaptureRectFor({10, 10, 2000, 900}, 1280, 1024, true), (Rect{10, 10, 1280, 900}));
  EXPECT_EQ(CaptureRectFor({}, 1280, 1024, true), (Rect{0, 0, 1280, 1024}));
  EXPECT_EQ(CaptureRectFor({1300, 0, 1400, 10}, 1280, 1024, true), (Rect{1279, 0, 1280, 10}));
}

TEST(CaptureRect, EvenSizeForEveryCodecButTheLosslessOne) {
  EXPECT_EQ(CaptureRectFor({0, 0, 641, 480}, 1280, 1024, false), (Rect{0, 0, 642, 480}));
  EXPECT_EQ(CaptureRectFor({639, 0, 1280, 480}, 1280, 1024, false), (Rect{638, 0, 1280, 480}));
  EXPECT_EQ(CaptureRectFor({0, 0, 641, 480}, 1280, 1024, true), (Rect{0, 0, 641, 480}));
  // 401 × 301 is recorded as 402 × 302, growing left and up at the edges.
  EXPECT_EQ(CaptureRectFor({10, 20, 411, 321}, 1280, 1024, false), (Rect{10, 20, 412, 322}));
  EXPECT_EQ(CaptureRectFor({879, 723, 1280, 1024}, 1280, 1024, false), (Rect{878, 722, 1280, 1024}));
  // A whole odd-sized surface cannot grow: it stays inside, one column short.
  EXPECT_EQ(CaptureRectFor({}, 1281, 1023, false), (Rect{0, 0, 1280, 1022}));
}

TEST(CaptureRect, ClampToScreenKeepsAtLeastOnePixel) {
  const Rect s{0, 0, 1024, 768};
  EXPECT_EQ(ClampToScreen(s, {-5, -5, 100, 100}), (Rect{0, 0, 100, 100}));
  EXPECT_EQ(ClampToScreen(s, {2000, 10, 3000, 20}), (Rect{1023, 10, 1024, 20}));
  EXPECT_EQ(ClampToScreen(s, {10, 10, 5, 900}), (Rect{10, 10, 11, 768}));
}

TEST(FollowWindow, MovesWithTheWindowAndStopsAtTheEdges) {
  const Rect s{0, 0, 1024, 768};
  const Rect current{100, 100, 400, 300};  // 300 × 200
  EXPECT_EQ(FollowWindow(s, current, Rect{110, 100, 410, 300}), (Rect{110, 100, 410, 300}));
  // Dragged so that its left edge is 100 pixels from the right edge.
  EXPECT_EQ(FollowWindow(s, current, Rect{924, 100, 1224, 300}), (Rect{724, 100, 1024, 300}));
  EXPECT_EQ(FollowWindow(s, current, Rect{10, 700, 310, 900}), (Rect{10, 568, 310, 768}));
  // Resizing the window does not change the recorded size.
  EXPECT_EQ(FollowWindow(s, current, Rect{50, 50, 900, 700}), (Rect{50, 50, 350, 250}));
  // Gone, empty or wholly off the screen: unchanged.
  EXPECT_EQ(FollowWindow(s, current, std::nullopt), current);
  EXPECT_EQ(FollowWindow(s, current, Rect{5, 5, 5, 5}), current);
  EXPECT_EQ(FollowWindow(s, current, Rect{2000, 0, 2300, 200}), current);
}

}  // namespace
}  // namespace kmr
