// The software pointer: how it is blended at every surface depth (expected
// pixels worked out by hand), and the compositor that keeps it in a
// mirror's surface with save-under.
#include <gtest/gtest.h>

#include <vector>

#include "platform/mirror/fake/memory_mirror.h"
#include "platform/mirror/pointer_compositor.h"
#include "platform/mirror/pointer_image.h"

namespace kmr::platform {
namespace {

// 4 × 1 pointer at (1, 0): opaque white, half-transparent red (premultiplied),
// transparent, opaque black.
PointerImage FourPixels() {
  PointerImage p;
  p.x = 1;
  p.y = 0;
  p.width = 4;
  p.height = 1;
  p.argb = {0xFFFFFFFFu, 0x80800000u, 0x00000000u, 0xFF000000u};
  return p;
}

TEST(BlendPointer, ThirtyTwoAndTwentyFourBits) {
  for (uint32_t bpp : {4u, 3u}) {
    Plane s(6, 1, bpp);
    for (int x = 0; x < 6; ++x) {
      s.view().At(x, 0)[0] = 0x10;
      s.view().At(x, 0)[1] = 0x20;
      s.view().At(x, 0)[2] = 0x30;
    }
    EXPECT_EQ(BlendPointer(FourPixels(), s.view()), (Rect{1, 0, 5, 1}));
    auto px = [&](int x) {
      const uint8_t* d = s.view().At(x, 0);
      return std::vector<int>{d[0], d[1], d[2]};
    };
    EXPECT_EQ(px(0), (std::vector<int>{0x10, 0x20, 0x30})) << bpp;
    EXPECT_EQ(px(1), (std::vector<int>{255, 255, 255})) << bpp;
    // 0 + (16 × 127 + 127) / 255 = 8; 0 + (32 × 127 + 127) / 255 = 16;
    // 128 + (48 × 127 + 127) / 255 = 152.
    EXPECT_EQ(px(2), (std::vector<int>{8, 16, 152})) << bpp;
    EXPECT_EQ(px(3), (std::vector<int>{0x10, 0x20, 0x30})) << bpp;
    EXPECT_EQ(px(4), (std::vector<int>{0, 0, 0})) << bpp;
    EXPECT_EQ(px(5), (std::vector<int>{0x10, 0x20, 0x30})) << bpp;
  }
}

TEST(BlendPointer, SixteenBitsFiveSixFive) {
  Plane s(6, 1, 2);
  for (int x = 0; x < 6; ++x) {
    s.view().At(x, 0)[0] = 0xC3;  // 0x18C3: red 3, green 6, blue 3 = grey 24
    s.view().At(x, 0)[1] = 0x18;
  }
  BlendPointer(FourPixels(), s.view());
  auto px = [&](int x) { return s.view().At(x, 0)[0] | (s.view().At(x, 0)[1] << 8); };
  EXPECT_EQ(px(0), 0x18C3);
  EXPECT_EQ(px(1), 0xFFFF);
  // Over grey 24: blue and green 12, red 128 + 12 = 140 -> 17, 3, 1.
  EXPECT_EQ(px(2), 0x8861);
  EXPECT_EQ(px(3), 0x18C3);
  EXPECT_EQ(px(4), 0x0000);
}

TEST(BlendPointer, EightBitsTakeTheNearestPaletteEntry) {
  std::vector<uint8_t> palette(1024);
  for (int i = 0; i < 256; ++i) {  // green everywhere, but for four entries
    palette[i * 4 + 1] = 255;
  }
  const uint8_t entries[4][3] = {{0, 0, 0}, {255, 255, 255}, {0x10, 0x20, 0x30}, {0, 0, 255}};
  for (int i = 0; i < 4; ++i) {
    for (int k = 0; k < 3; ++k) palette[i * 4 + k] = entries[i][k];
  }
  Plane s(6, 1, 1);
  for (int x = 0; x < 6; ++x) s.view().At(x, 0)[0] = 2;  // the background entry
  BlendPointer(FourPixels(), s.view(), &palette);
  std::vector<int> got;
  for (int x = 0; x < 6; ++x) got.push_back(s.view().At(x, 0)[0]);
  // The blended red (8, 16, 152) is nearer pure red than the background.
  EXPECT_EQ(got, (std::vector<int>{2, 1, 3, 2, 0, 2}));
  // Without a palette nothing is drawn.
  Plane t(6, 1, 1);
  EXPECT_TRUE(BlendPointer(FourPixels(), t.view()).IsEmpty());
}

// A mirror that takes the screen's changes when it is updated, as real ones do.
class DeferredMirror : public MemoryMirror {
 public:
  using MemoryMirror::MemoryMirror;
  std::vector<Rect> pending;
  void Update() override {
    for (const Rect& r : pending) Draw(r);
    pending.clear();
  }
};

class ScriptedPointer : public PointerSource {
 public:
  bool shown = true;
  int32_t x = 5, y = 5;
  uint32_t serial = 1;
  bool Fetch(PointerImage* p) override {
    if (!shown) return false;
    p->x = x;
    p->y = y;
    p->width = p->height = 2;
    p->serial = serial;
    p->argb.assign(4, 0xFFFFFFFFu);
    return true;
  }
};

class CompositorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) Pixel(mirror_.screen().view(), x, y) = 0x00010000u * static_cast<uint32_t>(y) + x;
    }
    ASSERT_TRUE(compositor_.Attach());
    SurfaceFormat f;
    ASSERT_TRUE(compositor_.MapSurface(&bits_, &f));
    ASSERT_TRUE(compositor_.MapChangeRing(64, &ring_));
    ASSERT_TRUE(compositor_.EnableTracking());
    ASSERT_TRUE(compositor_.SeedFromScreen(Rect{0, 0, 16, 16}));
    Reported();
  }
  static uint32_t& Pixel(const PlaneView& v, int x, int y) { return *reinterpret_cast<uint32_t*>(v.At(x, y)); }
  uint32_t Surface(int x, int y) { return Pixel(mirror_.surface().view(), x, y) & 0xFFFFFF; }
  uint32_t Screen(int x, int y) { return Pixel(mirror_.screen().view(), x, y) & 0xFFFFFF; }
  std::vector<Rect> Reported() {
    std::vector<Rect> out;
    quarn_ring_drain(
        ring_, [](void* c, const QuarnRect* q) {
          static_cast<std::vector<Rect>*>(c)->push_back(Rect{q->left, q->top, q->right, q->bottom});
        },
        &out);
    return out;
  }
  // Every pixel is the screen's, but the pointer's white square at (px, py).
  void ExpectPicture(int px, int py, bool pointer = true) {
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) {
        const bool under = pointer && x >= px && x < px + 2 && y >= py && y < py + 2;
        ASSERT_EQ(Surface(x, y), under ? 0xFFFFFFu : Screen(x, y)) << x << "," << y;
      }
    }
  }

  DeferredMirror mirror_{16, 16, 32};
  ScriptedPointer pointer_;
  PointerCompositor compositor_{&mirror_, &pointer_};
  uint8_t* bits_ = nullptr;
  uint8_t* ring_ = nullptr;
};

TEST_F(CompositorTest, DrawsThePointerAndReportsOnlyWhenItMoves) {
  compositor_.Update();
  ExpectPicture(5, 5);
  EXPECT_EQ(Reported(), (std::vector<Rect>{{5, 5, 7, 7}}));
  compositor_.Update();
  EXPECT_TRUE(Reported().empty()) << "a pointer that stayed is no change";
  pointer_.x = 10;
  compositor_.Update();
  ExpectPicture(10, 5);
  EXPECT_EQ(Reported(), (std::vector<Rect>{{5, 5, 7, 7}, {10, 5, 12, 7}}));
  pointer_.serial = 2;  // a new shape in the same place
  compositor_.Update();
  EXPECT_EQ(Reported().size(), 2u);
  pointer_.shown = false;
  compositor_.Update();
  ExpectPicture(0, 0, false);
  EXPECT_EQ(Reported(), (std::vector<Rect>{{10, 5, 12, 7}}));
}

// The desktop changes under the pointer: the mirror's new pixels are kept
// (never overwritten by an old save-under) and the pointer is drawn on them.
TEST_F(CompositorTest, DrawingUnderThePointerKeepsTheNewPixels) {
  compositor_.Update();
  for (int y = 4; y < 8; ++y) {
    for (int x = 4; x < 8; ++x) Pixel(mirror_.screen().view(), x, y) = 0x00ABCDEFu;
  }
  mirror_.pending.push_back(Rect{4, 4, 8, 8});
  compositor_.Update();
  ExpectPicture(5, 5);
  pointer_.x = 9;
  compositor_.Update();
  ExpectPicture(9, 5);
  EXPECT_EQ(Surface(5, 5), 0xABCDEFu);
}

TEST_F(CompositorTest, ASeedWhileThePointerIsDrawnLeavesNoStalePixels) {
  compositor_.Update();
  Pixel(mirror_.screen().view(), 5, 5) = 0x00123456u;
  ASSERT_TRUE(compositor_.SeedFromScreen(Rect{0, 0, 16, 16}));
  pointer_.x = 12;
  compositor_.Update();
  ExpectPicture(12, 5);
  EXPECT_EQ(Surface(5, 5), 0x123456u);
}

}  // namespace
}  // namespace kmr::platform
