#include "recorder/codecs/changed_area_encoder.h"

#include <gtest/gtest.h>

#include "shared/plane.h"

namespace kmr {
namespace {

// A 6 × 4 surface whose pixel (x, y) holds x, y, 7, 0.
Plane Surface() {
  Plane p(6, 4, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      uint8_t* px = p.view().At(x, y);
      px[0] = static_cast<uint8_t>(x);
      px[1] = static_cast<uint8_t>(y);
      px[2] = 7;
      px[3] = 0;
    }
  }
  return p;
}

TEST(ChangedAreaEncoder, TheAreaBottomUpWhenItChangedNothingOtherwise) {
  ChangedAreaEncoder e;
  std::string error;
  EXPECT_FALSE(e.Start(6, 4, 3, &error)) << "frames come as 32 bits";
  ASSERT_TRUE(e.Start(6, 4, 4, &error));
  Plane c = Surface();
  platform::Region none, some(Rect{2, 1, 3, 2});
  EncoderInput in;
  in.current = c.view();
  in.area = Rect{2, 1, 6, 3};  // 4 × 2
  in.dirty = &none;
  ASSERT_TRUE(e.Encode(in));
  EXPECT_EQ(e.PacketLength(), 0u) << "an unchanged frame is not handed on";
  in.dirty = &some;
  ASSERT_TRUE(e.Encode(in));
  ASSERT_EQ(e.PacketLength(), 4u * 2u * 4u);
  const uint8_t* p = e.PacketData();
  // Row 0 of the image is the area's bottom row (y = 2).
  EXPECT_EQ(p[0], 2);
  EXPECT_EQ(p[1], 2);
  EXPECT_EQ(p[16 + 1], 1);  // then y = 1
  EXPECT_EQ(p[16 + 3 * 4], 5);
  EXPECT_FALSE(e.IsKeyFrame());
  in.dirty = &none;
  in.key_requested = true;
  ASSERT_TRUE(e.Encode(in));
  EXPECT_EQ(e.PacketLength(), 32u) << "a key frame is asked for: the whole area";
  EXPECT_TRUE(e.IsKeyFrame());
  // Where the area lies off the surface, the image stays black.
  in.area = Rect{4, 2, 8, 4};
  ASSERT_TRUE(e.Encode(in));
  ASSERT_EQ(e.PacketLength(), 32u);
  EXPECT_EQ(e.PacketData()[0], 4);  // (4, 3)
  EXPECT_EQ(e.PacketData()[2 * 4 + 2], 0) << "x = 6 lies off the surface";
}

}  // namespace
}  // namespace kmr
