// The buffer metadata the desktop writes (damaged regions, the pointer),
// read with every size and offset checked.
#include <gtest/gtest.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <cstring>
#include <vector>

#include "platform/mirror/pipewire/pipewire_stream.h"

namespace kmr::platform {
namespace {

std::vector<uint8_t> Regions(const std::vector<std::vector<int64_t>>& list, size_t slots) {
  std::vector<uint8_t> meta(slots * sizeof(spa_meta_region), 0);
  for (size_t i = 0; i < list.size() && i < slots; ++i) {
    spa_meta_region r{};
    r.region.position.x = static_cast<int32_t>(list[i][0]);
    r.region.position.y = static_cast<int32_t>(list[i][1]);
    r.region.size.width = static_cast<uint32_t>(list[i][2]);
    r.region.size.height = static_cast<uint32_t>(list[i][3]);
    std::memcpy(&meta[i * sizeof(r)], &r, sizeof(r));
  }
  return meta;
}

TEST(DamageMeta, RegionsUpToTheFirstEmptyOneClippedToThePicture) {
  std::vector<Rect> d;
  auto m = Regions({{10, 20, 30, 5}, {-5, -5, 10, 10}, {90, 70, 4000000000, 4000000000}, {0, 0, 0, 0}, {1, 1, 1, 1}},
                   8);
  ASSERT_TRUE(ReadDamageRegions(m.data(), m.size(), 100, 80, &d));
  EXPECT_EQ(d, (std::vector<Rect>{{10, 20, 40, 25}, {0, 0, 5, 5}, {90, 70, 100, 80}}));
}

TEST(DamageMeta, NothingReadMeansNothingKnown) {
  std::vector<Rect> d;
  EXPECT_FALSE(ReadDamageRegions(nullptr, 0, 100, 80, &d));
  auto empty = Regions({}, 4);
  EXPECT_FALSE(ReadDamageRegions(empty.data(), empty.size(), 100, 80, &d));
  auto cut = Regions({{1, 1, 2, 2}}, 1);
  EXPECT_FALSE(ReadDamageRegions(cut.data(), cut.size() - 1, 100, 80, &d)) << "a region cut short is not read";
  auto outside = Regions({{500, 500, 10, 10}}, 1);
  EXPECT_TRUE(ReadDamageRegions(outside.data(), outside.size(), 100, 80, &d)) << "said, but nothing on the picture";
  EXPECT_TRUE(d.empty());
}

// A cursor metadata block: the cursor, then a bitmap header, then pixels.
std::vector<uint8_t> Cursor(uint32_t id, int32_t x, int32_t y, bool with_bitmap, uint32_t format, uint32_t w,
                            uint32_t h, int32_t stride, const std::vector<uint8_t>& pixels, size_t extra = 0) {
  const size_t bitmap_at = sizeof(spa_meta_cursor);
  const size_t pixels_at = sizeof(spa_meta_bitmap);
  std::vector<uint8_t> m(bitmap_at + pixels_at + pixels.size() + extra, 0);
  spa_meta_cursor c{};
  c.id = id;
  c.position.x = x;
  c.position.y = y;
  c.hotspot.x = 2;
  c.hotspot.y = 3;
  c.bitmap_offset = with_bitmap ? static_cast<uint32_t>(bitmap_at) : 0;
  std::memcpy(m.data(), &c, sizeof(c));
  spa_meta_bitmap b{};
  b.format = format;
  b.size.width = w;
  b.size.height = h;
  b.stride = stride;
  b.offset = static_cast<uint32_t>(pixels_at);
  std::memcpy(m.data() + bitmap_at, &b, sizeof(b));
  if (!pixels.empty()) std::memcpy(m.data() + bitmap_at + pixels_at, pixels.data(), pixels.size());
  return m;
}

TEST(PointerMeta, AMoveAndAShapeInEachByteOrder) {
  StreamPointer p;
  auto moved = Cursor(3, 40, 50, false, 0, 0, 0, 0, {});
  ASSERT_TRUE(ReadPointerMeta(moved.data(), moved.size(), &p));
  EXPECT_TRUE(p.visible);
  EXPECT_EQ(p.x, 40);
  EXPECT_EQ(p.y, 50);
  EXPECT_FALSE(p.shape_changed);

  // Two pixels a row, two rows, stride 12 (4 bytes of padding): opaque
  // red and half-transparent green (premultiplied), then blue and clear.
  const std::vector<uint8_t> bgra = {0, 0, 255, 255, 0, 128, 0, 128, 9, 9, 9, 9,
                                     255, 0, 0, 255, 0, 0, 0, 0, 9, 9, 9, 9};
  auto shaped = Cursor(3, 40, 50, true, SPA_VIDEO_FORMAT_BGRA, 2, 2, 12, bgra);
  ASSERT_TRUE(ReadPointerMeta(shaped.data(), shaped.size(), &p));
  ASSERT_TRUE(p.shape_changed);
  EXPECT_EQ(p.hot_x, 2);
  EXPECT_EQ(p.hot_y, 3);
  EXPECT_EQ(p.argb, (std::vector<uint32_t>{0xFFFF0000u, 0x80008000u, 0xFF0000FFu, 0u}));

  const std::vector<uint8_t> rgba = {255, 0, 0, 255, 0, 128, 0, 128, 9, 9, 9, 9,
                                     0, 0, 255, 255, 0, 0, 0, 0, 9, 9, 9, 9};
  auto shaped_rgba = Cursor(3, 40, 50, true, SPA_VIDEO_FORMAT_RGBA, 2, 2, 12, rgba);
  ASSERT_TRUE(ReadPointerMeta(shaped_rgba.data(), shaped_rgba.size(), &p));
  EXPECT_EQ(p.argb, (std::vector<uint32_t>{0xFFFF0000u, 0x80008000u, 0xFF0000FFu, 0u}));
}

TEST(PointerMeta, NoUpdateAHiddenPointerAndShapesThatDoNotFit) {
  StreamPointer p;
  auto none = Cursor(0, 1, 1, false, 0, 0, 0, 0, {});
  EXPECT_FALSE(ReadPointerMeta(none.data(), none.size(), &p)) << "id 0: nothing new";
  EXPECT_FALSE(ReadPointerMeta(none.data(), sizeof(spa_meta_cursor) - 1, &p));

  auto hidden = Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_BGRA, 0, 0, 0, {});
  ASSERT_TRUE(ReadPointerMeta(hidden.data(), hidden.size(), &p));
  EXPECT_FALSE(p.visible);

  const std::vector<uint8_t> four(16, 0xFF);
  // Pixels beyond the metadata: the size claims 2 × 3 but only 2 × 2 are there.
  auto beyond = Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_BGRA, 2, 3, 8, four);
  ASSERT_TRUE(ReadPointerMeta(beyond.data(), beyond.size(), &p));
  EXPECT_FALSE(p.shape_changed);
  EXPECT_TRUE(p.visible) << "the place is still good";
  // A stride shorter than a row, a negative one, an unknown format, a huge size.
  for (auto m : {Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_BGRA, 2, 2, 4, four),
                 Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_BGRA, 2, 2, -8, four),
                 Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_NV12, 2, 2, 8, four),
                 Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_BGRA, 100000, 2, 400000, four)}) {
    ASSERT_TRUE(ReadPointerMeta(m.data(), m.size(), &p));
    EXPECT_FALSE(p.shape_changed);
  }
  // A bitmap offset pointing past the end, or into the cursor itself.
  auto far = Cursor(3, 1, 1, true, SPA_VIDEO_FORMAT_BGRA, 2, 2, 8, four);
  const uint32_t past = static_cast<uint32_t>(far.size() + 100), inside = 4;
  std::memcpy(far.data() + offsetof(spa_meta_cursor, bitmap_offset), &past, 4);
  ASSERT_TRUE(ReadPointerMeta(far.data(), far.size(), &p));
  EXPECT_FALSE(p.shape_changed);
  std::memcpy(far.data() + offsetof(spa_meta_cursor, bitmap_offset), &inside, 4);
  ASSERT_TRUE(ReadPointerMeta(far.data(), far.size(), &p));
  EXPECT_FALSE(p.shape_changed);
}

}  // namespace
}  // namespace kmr::platform
