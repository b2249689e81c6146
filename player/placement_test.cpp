#include "player/placement.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

TEST(Placement, LargerWindowCentresTheFrameWithFourBorders) {
  const Placement p = PlacePicture({0, 0, 800, 600}, 0, 0, 640, 480, false);
  ASSERT_TRUE(p.has_picture);
  EXPECT_EQ(p.dest, (Rect{80, 60, 720, 540}));
  EXPECT_EQ(p.source, (Rect{0, 0, 640, 480}));
  EXPECT_EQ(p.borders.size(), 4u);
  EXPECT_EQ(p.borders[0], (Rect{0, 0, 80, 600}));
  EXPECT_EQ(p.borders[3], (Rect{0, 540, 800, 600}));
}

TEST(Placement, FitScalesA4To3FrameToAWideWindowsHeight) {
  const Placement p = PlacePicture({0, 0, 1600, 600}, 0, 0, 640, 480, true);
  EXPECT_DOUBLE_EQ(p.scale, 600.0 / 480);
  EXPECT_EQ(p.dest, (Rect{400, 0, 1200, 600}));
  EXPECT_EQ(p.source, (Rect{0, 0, 640, 480}));
  EXPECT_EQ(p.borders.size(), 2u);  // left and right only
}

TEST(Placement, SmallerWindowShowsTheFrameAtTheScrollOffsetClipped) {
  const Placement p = PlacePicture({0, 0, 300, 200}, -100, -50, 640, 480, false);
  // The area spans the client and the client moved by the offset.
  EXPECT_EQ(p.dest, (Rect{0, 0, 300, 200}));
  EXPECT_EQ(p.source, (Rect{100, 50, 400, 250}));
  EXPECT_TRUE(p.borders.empty());
  const Placement q = PlacePicture({0, 0, 300, 200}, 0, 0, 640, 480, false);
  EXPECT_EQ(q.source, (Rect{0, 0, 300, 200}));
}

TEST(Placement, NoFormatFillsTheClient) {
  const Placement p = PlacePicture({0, 0, 300, 200}, 0, 0, 0, 0, true);
  EXPECT_FALSE(p.has_picture);
  ASSERT_EQ(p.borders.size(), 1u);
  EXPECT_EQ(p.borders[0], (Rect{0, 0, 300, 200}));
}

}  // namespace
}  // namespace kmr
