#include "recorder/codecs/frame_differ.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

TEST(FrameDiffer, ChangedSpansAreTightAndSplitAtLongGaps) {
  Plane a(64, 8, 4), b(64, 8, 4);
  auto poke = [&](int x, int y) { b.view().At(x, y)[1] = 0xFF; };
  poke(5, 1);
  poke(9, 1);   // gap of 3: one span 5..10
  poke(30, 1);  // gap of 20: a second span
  poke(63, 6);
  platform::Region r;
  FrameDiffer d;
  d.Diff(a.view(), b.view(), Rect{0, 0, 64, 8}, &r);
  std::vector<Rect> rects;
  r.GetRects(&rects);
  EXPECT_EQ(rects, (std::vector<Rect>{{5, 1, 10, 2}, {30, 1, 31, 2}, {63, 6, 64, 7}}));
  // Only the area asked about is compared.
  d.Diff(a.view(), b.view(), Rect{0, 2, 64, 8}, &r);
  r.GetRects(&rects);
  EXPECT_EQ(rects, (std::vector<Rect>{{63, 6, 64, 7}}));
  d.Diff(a.view(), a.view(), Rect{0, 0, 64, 8}, &r);
  EXPECT_TRUE(r.IsEmpty());
}

TEST(FrameDiffer, ComparesWholePixelsAtEveryDepth) {
  for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
    Plane a(10, 2, bpp), b(10, 2, bpp);
    b.view().At(7, 0)[bpp - 1] = 1;  // last byte of pixel 7
    platform::Region r;
    FrameDiffer().Diff(a.view(), b.view(), Rect{0, 0, 10, 2}, &r);
    std::vector<Rect> rects;
    r.GetRects(&rects);
    EXPECT_EQ(rects, (std::vector<Rect>{{7, 0, 8, 1}})) << bpp;
  }
}

}  // namespace
}  // namespace kmr
