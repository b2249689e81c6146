#include "tools/kmrtool/motion_estimator.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/region/region.h"
#include "recorder/codecs/frame_differ.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr {
namespace {

// A textured block on a repeating background, moved by (dx, dy).
struct Scene {
  Plane before{320, 240, 4}, after{320, 240, 4};
  Scene(int32_t dx, int32_t dy) {
    std::mt19937 rng(5);
    for (const Plane* p : {&before, &after}) {
      for (int32_t y = 0; y < 240; ++y) {
        for (int32_t x = 0; x < 320; ++x) p->view().At(x, y)[0] = static_cast<uint8_t>((x % 12) * 20 + (y % 12));
      }
    }
    std::vector<uint8_t> block(100 * 80 * 4);
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    for (int32_t y = 0; y < 80; ++y) {
      std::memcpy(before.view().At(100, 60 + y), &block[y * 400], 400);
      std::memcpy(after.view().At(100 + dx, 60 + dy + y), &block[y * 400], 400);
    }
  }
  std::vector<Rect> Changed() {
    platform::Region r;
    FrameDiffer().Diff(before.view(), after.view(), Rect{0, 0, 320, 240}, &r);
    std::vector<Rect> rects;
    r.GetRects(&rects);
    return rects;
  }
};

TEST(MotionEstimator, FindsADraggedBlockDespiteARepeatingBackground) {
  Scene s(17, -9);
  MotionEstimator m;
  const auto motion = m.Estimate(s.before.view(), s.after.view(), s.Changed());
  ASSERT_TRUE(motion.has_value());
  EXPECT_EQ(motion->dx, 17);
  EXPECT_EQ(motion->dy, -9);
  EXPECT_EQ(motion->window, (Rect{117, 51, 217, 131}));
}

TEST(MotionEstimator, NothingMovedNothingFound) {
  Scene s(0, 0);
  Plane noise(320, 240, 4);
  std::mt19937 rng(1);
  for (int32_t y = 100; y < 140; ++y) {
    for (int32_t x = 0; x < 320; ++x) noise.view().At(x, y)[1] = static_cast<uint8_t>(rng());
  }
  MotionEstimator m;
  platform::Region r;
  FrameDiffer().Diff(s.before.view(), noise.view(), Rect{0, 0, 320, 240}, &r);
  std::vector<Rect> rects;
  r.GetRects(&rects);
  EXPECT_FALSE(m.Estimate(s.before.view(), noise.view(), rects).has_value());
  EXPECT_FALSE(m.Estimate(s.before.view(), s.after.view(), {}).has_value());
}

// A drag described as a window drag costs a fraction of the XOR data, and
// still decodes bit for bit (the round trips check the latter).
TEST(MotionEstimator, DragsBecomeCheapCommands) {
  Scene s(23, 11);
  auto encode = [&](bool search) {
    OfflineSource src(320, 240, 32, 10);
    src.SetMotionSearch(search);
    std::vector<uint8_t> raw(src.RawFrameBytes());
    for (int32_t y = 0; y < 240; ++y) std::memcpy(&raw[y * 1280], s.before.view().At(0, y), 1280);
    EXPECT_TRUE(src.EncodeFrame(raw.data()));
    for (int32_t y = 0; y < 240; ++y) std::memcpy(&raw[y * 1280], s.after.view().At(0, y), 1280);
    EXPECT_TRUE(src.EncodeFrame(raw.data()));
    return src.EncodedSize();
  };
  const uint32_t with = encode(true), without = encode(false);
  EXPECT_LT(with * 3, without) << with << " vs " << without;
}

}  // namespace
}  // namespace kmr
