#include "platform/mirror/duplication_mirror.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "driver/quarn_protocol.h"
#include "platform/mirror/testing/scripted_duplication.h"

namespace kmr::platform {
namespace {

using testing::ScriptedOutput;
using testing::ScriptedSystem;

std::vector<Rect> Drain(uint8_t* ring) {
  std::vector<Rect> rects;
  quarn_ring_drain(
      ring, [](void* c, const QuarnRect* q) { static_cast<std::vector<Rect>*>(c)->push_back(Rect{q->left, q->top, q->right, q->bottom}); },
      &rects);
  return rects;
}

uint32_t Pixel(const uint8_t* surface, uint32_t stride, int32_t x, int32_t y) {
  uint32_t v;
  std::memcpy(&v, surface + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
  return v;
}

class DuplicationMirrorTest : public ::testing::Test {
 protected:
  // Outputs are added before Start.
  ScriptedOutput& AddOutput(const Rect& place, uint32_t base) {
    ScriptedOutput o;
    o.place = place;
    o.screen.resize(static_cast<size_t>(place.Width()) * place.Height());
    for (size_t i = 0; i < o.screen.size(); ++i) o.screen[i] = base + static_cast<uint32_t>(i);
    o.results.push_back(OutputDuplication::Acquired::kFrame);  // the first frame
    o.frames.push_back(DuplicationFrame{});
    system_->outputs.push_back(std::move(o));
    return system_->outputs.back();
  }

  void Start() {
    auto system = std::unique_ptr<DuplicationSystem>(system_);
    mirror_ = std::make_unique<DuplicationMirror>(std::move(system));
    ASSERT_TRUE(mirror_->Attach()) << mirror_->Error();
    ASSERT_TRUE(mirror_->MapSurface(&surface_, &format_));
    ASSERT_TRUE(mirror_->MapChangeRing(64, &ring_));
    ASSERT_TRUE(mirror_->EnableTracking());
  }

  // The frame an output gives next.
  void Script(ScriptedOutput& out, const DuplicationFrame& frame) {
    out.results.push_back(OutputDuplication::Acquired::kFrame);
    out.frames.push_back(frame);
  }

  uint32_t At(int32_t x, int32_t y) const { return Pixel(surface_, format_.stride, x, y); }

  ScriptedSystem* system_ = new ScriptedSystem();  // owned by the mirror once started
  std::unique_ptr<DuplicationMirror> mirror_;
  uint8_t* surface_ = nullptr;
  SurfaceFormat format_;
  uint8_t* ring_ = nullptr;
};

TEST_F(DuplicationMirrorTest, EveryOutputHasItsPlaceInTheVirtualScreenAndIsReadWholeFirst) {
  // A second monitor to the left of the first and 8 pixels higher.
  AddOutput(Rect{0, 0, 40, 20}, 0x100000);
  AddOutput(Rect{-30, -8, 0, 16}, 0x200000);
  Start();
  EXPECT_EQ(format_.width, 70);
  EXPECT_EQ(format_.height, 28);
  EXPECT_EQ(format_.bits_per_pixel, 32u);
  mirror_->Update();
  // The primary's top-left lies at (30, 8) of the surface.
  EXPECT_EQ(At(30, 8), 0x100000u);
  EXPECT_EQ(At(30 + 39, 8 + 19), 0x100000u + 19 * 40 + 39);
  EXPECT_EQ(At(0, 0), 0x200000u);
  EXPECT_EQ(At(29, 23), 0x200000u + 23 * 30 + 29);
  EXPECT_EQ(At(69, 0), 0u);  // above the primary: no screen there
  const std::vector<Rect> reported = Drain(ring_);
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], (Rect{30, 8, 70, 28}));
  EXPECT_EQ(reported[1], (Rect{0, 0, 30, 24}));
  // Nothing new: nothing read, nothing reported.
  mirror_->Update();
  EXPECT_TRUE(Drain(ring_).empty());
  EXPECT_EQ(system_->outputs[0].reads, 1);
  EXPECT_EQ(system_->outputs[0].releases, 1);
}

TEST_F(DuplicationMirrorTest, DirtyRectanglesAreCopiedAndMovesAppliedInTheirOrder) {
  ScriptedOutput& out = AddOutput(Rect{0, 0, 32, 24}, 0x10000);
  Start();
  mirror_->Update();
  Drain(ring_);
  const std::vector<uint32_t> before = out.screen;
  auto old = [&](int32_t x, int32_t y) { return before[static_cast<size_t>(y) * 32 + x]; };

  // A window of 10 × 6 at (4, 4) dragged 3 down and 2 right (the areas
  // overlap), then scrolled content inside it up by 1; the strip it left
  // behind is dirty with new pixels.
  DuplicationFrame f;
  f.moves.push_back(MovedRect{4, 4, Rect{6, 7, 16, 13}});
  f.moves.push_back(MovedRect{6, 8, Rect{6, 7, 16, 12}});
  f.dirty.push_back(Rect{4, 4, 16, 7});
  for (int32_t y = 4; y < 7; ++y) {
    for (int32_t x = 4; x < 16; ++x) out.screen[static_cast<size_t>(y) * 32 + x] = 0xABCDEF;
  }
  Script(out, f);
  mirror_->Update();
  // After the drag, (6 + i, 7 + j) holds the old (4 + i, 4 + j); after the
  // scroll, row 7 + j holds what row 8 + j held.
  EXPECT_EQ(At(6, 7), old(4, 5));
  EXPECT_EQ(At(15, 11), old(13, 9));
  EXPECT_EQ(At(15, 12), old(13, 9));  // the last row is not scrolled
  EXPECT_EQ(At(4, 4), 0xABCDEFu);
  EXPECT_EQ(At(20, 20), old(20, 20));
  // The dirty strip is read; the moved pixels are not.
  EXPECT_EQ(out.reads, 2);
  const std::vector<Rect> reported = Drain(ring_);
  EXPECT_EQ(reported, (std::vector<Rect>{Rect{6, 7, 16, 13}, Rect{6, 7, 16, 12}, Rect{4, 4, 16, 7}}));
}

TEST_F(DuplicationMirrorTest, AMoveFromOutsideTheOutputIsReadInstead) {
  ScriptedOutput& out = AddOutput(Rect{0, 0, 16, 16}, 0x300000);
  Start();
  mirror_->Update();
  Drain(ring_);
  out.screen[5 * 16 + 5] = 0x777777;
  DuplicationFrame f;
  f.moves.push_back(MovedRect{14, 14, Rect{4, 4, 8, 8}});  // its source runs off the output
  Script(out, f);
  mirror_->Update();
  EXPECT_EQ(At(5, 5), 0x777777u);
  EXPECT_EQ(Drain(ring_), (std::vector<Rect>{Rect{4, 4, 8, 8}}));
}

TEST_F(DuplicationMirrorTest, LostAccessMakesTheDuplicationAgainAndReadsTheWholeOutput) {
  ScriptedOutput& out = AddOutput(Rect{0, 0, 16, 8}, 0x40000);
  Start();
  mirror_->Update();
  Drain(ring_);
  EXPECT_EQ(system_->duplicates, 1);

  // A mode change: access lost, and the first new duplication cannot be made
  // (the secure desktop is up).
  out.results.push_back(OutputDuplication::Acquired::kAccessLost);
  system_->refuse_duplicates = 1;
  mirror_->Update();
  EXPECT_EQ(system_->duplicates, 2);
  EXPECT_FALSE(mirror_->Error().empty());
  EXPECT_TRUE(Drain(ring_).empty());
  // Back: made again, and its first frame is read and reported whole.
  for (uint32_t& p : out.screen) p ^= 0xFF;
  Script(out, DuplicationFrame{});
  mirror_->Update();
  EXPECT_EQ(system_->duplicates, 3);
  EXPECT_EQ(mirror_->Recreations(), 1u);
  EXPECT_EQ(At(3, 3), out.screen[3 * 16 + 3]);
  EXPECT_EQ(Drain(ring_), (std::vector<Rect>{Rect{0, 0, 16, 8}}));
}

TEST_F(DuplicationMirrorTest, PixelsThatDidNotComeAreReadWholeNextTime) {
  ScriptedOutput& out = AddOutput(Rect{0, 0, 8, 8}, 0x50000);
  Start();
  mirror_->Update();
  Drain(ring_);
  DuplicationFrame f;
  f.dirty.push_back(Rect{1, 1, 2, 2});
  Script(out, f);
  out.refuse_reads = true;
  mirror_->Update();
  EXPECT_TRUE(Drain(ring_).empty());
  EXPECT_EQ(out.releases, 2);  // the frame is given back all the same
  out.refuse_reads = false;
  Script(out, DuplicationFrame{});
  mirror_->Update();
  EXPECT_EQ(Drain(ring_), (std::vector<Rect>{Rect{0, 0, 8, 8}}));
}

TEST_F(DuplicationMirrorTest, WithoutDuplicationAttachFailsWithTheReason) {
  system_->available = false;
  DuplicationMirror mirror{std::unique_ptr<DuplicationSystem>(system_)};
  system_ = nullptr;
  EXPECT_FALSE(mirror.Attach());
  EXPECT_NE(mirror.Error().find("E_NOTIMPL"), std::string::npos);
  uint8_t* bits = nullptr;
  SurfaceFormat f;
  EXPECT_FALSE(mirror.MapSurface(&bits, &f));
}

TEST_F(DuplicationMirrorTest, TheSystemsSizesAreBounded) {
  AddOutput(Rect{0, 0, 8, 8}, 0);
  system_->outputs[0].place = Rect{0, 0, 100000, 8};
  DuplicationMirror mirror{std::unique_ptr<DuplicationSystem>(system_)};
  system_ = nullptr;
  EXPECT_FALSE(mirror.Attach());
}

// The pointer, through the compositor as CreateCaptureMirror pairs them.
class DuplicationPointerTest : public DuplicationMirrorTest {
 protected:
  void StartWithPointer() {
    auto system = std::unique_ptr<DuplicationSystem>(system_);
    auto inner = std::make_unique<DuplicationMirror>(std::move(system));
    dup_ = inner.get();
    source_ = std::make_unique<DuplicationPointerSource>(dup_);
    compositor_ = std::make_unique<PointerCompositor>(dup_, source_.get());
    owner_ = std::move(inner);
    ASSERT_TRUE(compositor_->Attach());
    ASSERT_TRUE(compositor_->MapSurface(&surface_, &format_));
    ASSERT_TRUE(compositor_->MapChangeRing(64, &ring_));
    ASSERT_TRUE(compositor_->EnableTracking());
  }
  void TearDown() override {
    if (compositor_) compositor_->Detach();
  }
  DuplicationMirror* dup_ = nullptr;
  std::unique_ptr<DuplicationMirror> owner_;
  std::unique_ptr<DuplicationPointerSource> source_;
  std::unique_ptr<PointerCompositor> compositor_;
};

TEST_F(DuplicationPointerTest, AMonochromePointerInvertsWhereItsMasksSaySoAndGoesWithItsOutput) {
  ScriptedOutput& out = AddOutput(Rect{0, 0, 16, 16}, 0);
  for (uint32_t& p : out.screen) p = 0x00204060;
  StartWithPointer();
  compositor_->Update();
  Drain(ring_);
  // 2 × 2 shape: AND rows 0b10, 0b00; XOR rows 0b10, 0b01 (byte-aligned
  // rows): (0,0) kept and inverted, (1,0) black, (0,1) black, (1,1) white.
  DuplicationPointerShape shape;
  shape.kind = DuplicationPointerShape::Kind::kMonochrome;
  shape.width = 2;
  shape.height = 4;
  shape.pitch = 1;
  shape.bits = {0x80, 0x00, 0x80, 0x40};
  out.shapes.push_back(shape);
  DuplicationFrame f;
  f.pointer_updated = true;
  f.pointer_visible = true;
  f.pointer_x = 5;
  f.pointer_y = 6;
  f.shape_changed = true;
  Script(out, f);
  compositor_->Update();
  EXPECT_EQ(At(5, 6) & 0xFFFFFF, 0x00DFBF9Fu);
  EXPECT_EQ(At(6, 6) & 0xFFFFFF, 0u);
  EXPECT_EQ(At(5, 7) & 0xFFFFFF, 0u);
  EXPECT_EQ(At(6, 7) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(At(7, 6), 0x00204060u);
  EXPECT_FALSE(Drain(ring_).empty());

  // Hidden by its output: the pixels under it come back.
  DuplicationFrame hide;
  hide.pointer_updated = true;
  hide.pointer_visible = false;
  Script(out, hide);
  compositor_->Update();
  EXPECT_EQ(At(5, 6), 0x00204060u);
  EXPECT_EQ(At(6, 7), 0x00204060u);
}

TEST_F(DuplicationPointerTest, AColourPointerIsBlendedAndADamagedShapeIsIgnored) {
  ScriptedOutput& out = AddOutput(Rect{0, 0, 16, 16}, 0);
  for (uint32_t& p : out.screen) p = 0;
  StartWithPointer();
  compositor_->Update();
  DuplicationPointerShape shape;
  shape.kind = DuplicationPointerShape::Kind::kColour;
  shape.width = 1;
  shape.height = 1;
  shape.pitch = 4;
  shape.hot_x = 0;
  shape.bits = {0x00, 0x00, 0xFF, 0xFF};  // opaque red
  out.shapes.push_back(shape);
  DuplicationFrame f;
  f.pointer_updated = true;
  f.pointer_visible = true;
  f.pointer_x = 3;
  f.pointer_y = 3;
  f.shape_changed = true;
  Script(out, f);
  compositor_->Update();
  EXPECT_EQ(At(3, 3) & 0xFFFFFF, 0xFF0000u);
  const uint32_t serial = dup_->Pointer().serial;

  // A shape whose rows are shorter than its width: the last good one stays.
  DuplicationPointerShape bad = shape;
  bad.width = 8;
  out.shapes.push_back(bad);
  f.shape_changed = true;
  Script(out, f);
  compositor_->Update();
  EXPECT_EQ(dup_->Pointer().serial, serial);
  EXPECT_EQ(At(3, 3) & 0xFFFFFF, 0xFF0000u);
}

}  // namespace
}  // namespace kmr::platform
