#include "platform/region/region.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kmr::platform {
namespace {

std::vector<Rect> Rects(const Region& r) {
  std::vector<Rect> out;
  r.GetRects(&out);
  return out;
}

TEST(Region, EmptyAndSingleRect) {
  Region r;
  EXPECT_TRUE(r.IsEmpty());
  EXPECT_TRUE(Rects(r).empty());
  r.SetRect({10, 20, 30, 40});
  EXPECT_FALSE(r.IsEmpty());
  EXPECT_EQ(Rects(r), (std::vector<Rect>{{10, 20, 30, 40}}));
  EXPECT_EQ(r.Bounds(), (Rect{10, 20, 30, 40}));
  r.SetRect({5, 5, 5, 9});  // no area
  EXPECT_TRUE(r.IsEmpty());
}

// Two overlapping rectangles split into three bands, top to bottom, and the
// middle band lists its pieces left to right, merged where they touch.
TEST(Region, UnionIsYXBanded) {
  Region r({0, 0, 10, 10});
  r.Union(Rect{5, 5, 20, 15});
  EXPECT_EQ(Rects(r), (std::vector<Rect>{{0, 0, 10, 5}, {0, 5, 20, 10}, {5, 10, 20, 15}}));
  Region s({0, 0, 4, 4});
  s.Union(Rect{8, 0, 12, 4});
  s.Union(Rect{0, 4, 4, 8});
  s.Union(Rect{8, 4, 12, 8});
  // Identical adjacent bands are coalesced.
  EXPECT_EQ(Rects(s), (std::vector<Rect>{{0, 0, 4, 8}, {8, 0, 12, 8}}));
}

TEST(Region, IntersectSubtractOffset) {
  Region a({0, 0, 100, 100});
  a.Subtract(Rect{10, 10, 20, 20});
  EXPECT_EQ(Rects(a), (std::vector<Rect>{{0, 0, 100, 10}, {0, 10, 10, 20}, {20, 10, 100, 20}, {0, 20, 100, 100}}));
  Region b(a);
  b.Intersect(Rect{0, 5, 15, 15});
  EXPECT_EQ(Rects(b), (std::vector<Rect>{{0, 5, 15, 10}, {0, 10, 10, 15}}));
  b.Offset(100, -5);
  EXPECT_EQ(Rects(b), (std::vector<Rect>{{100, 0, 115, 5}, {100, 5, 110, 10}}));
  Region c({0, 0, 10, 10});
  c.Intersect(Rect{20, 20, 30, 30});
  EXPECT_TRUE(c.IsEmpty());
  Region d({0, 0, 10, 10});
  d.Subtract(d);
  EXPECT_TRUE(d.IsEmpty());
}

// The listed rectangles cover exactly the set built, never overlap, and are in
// banded order; checked against a pixel mask on random unions and differences.
TEST(Region, RandomOperationsMatchAPixelMask) {
  std::mt19937 rng(42);
  constexpr int kW = 64, kH = 48;
  for (int round = 0; round < 200; ++round) {
    Region r;
    std::vector<uint8_t> mask(kW * kH, 0);
    for (int op = 0; op < 8; ++op) {
      const int32_t x0 = static_cast<int32_t>(rng() % kW), y0 = static_cast<int32_t>(rng() % kH);
      const Rect rect{x0, y0, x0 + 1 + static_cast<int32_t>(rng() % 20), y0 + 1 + static_cast<int32_t>(rng() % 20)};
      const bool add = rng() % 3 != 0;
      if (add) {
        r.Union(rect);
      } else {
        r.Subtract(rect);
      }
      for (int y = rect.top; y < rect.bottom && y < kH; ++y) {
        for (int x = rect.left; x < rect.right && x < kW; ++x) mask[y * kW + x] = add ? 1 : 0;
      }
    }
    r.Intersect(Rect{0, 0, kW, kH});
    std::vector<uint8_t> got(kW * kH, 0);
    const auto rects = Rects(r);
    for (size_t i = 0; i < rects.size(); ++i) {
      const Rect& a = rects[i];
      ASSERT_FALSE(a.IsEmpty());
      if (i > 0) {
        const Rect& p = rects[i - 1];
        // Same band: same top and bottom, to the right; else a later band.
        if (p.top == a.top) {
          EXPECT_EQ(p.bottom, a.bottom);
          EXPECT_LT(p.right, a.left);  // touching pieces are merged
        } else {
          EXPECT_GE(a.top, p.bottom);
        }
      }
      for (int y = a.top; y < a.bottom; ++y) {
        for (int x = a.left; x < a.right; ++x) {
          EXPECT_EQ(got[y * kW + x], 0) << "overlap";
          got[y * kW + x] = 1;
        }
      }
    }
    ASSERT_EQ(got, mask) << "round " << round;
  }
}

}  // namespace
}  // namespace kmr::platform
