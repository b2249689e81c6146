// The lossless codec end to end: the encoder's packets decoded by the
// player's decoder, and the encoder's planes against the decoder's.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "platform/desktop_state/fake/scripted_desktop_state.h"
#include "player/codecs/lossless_decoder.h"
#include "recorder/codecs/lossless_encoder.h"
#include "recorder/codecs/row_ops.h"

namespace kmr {
namespace {

using platform::Region;
using platform::ScriptedDesktopState;

// The capture side: C, R1-R3 and the scratch row over a surface.
struct Capture {
  Capture(int32_t w, int32_t h, uint32_t bpp) : c(w, h, bpp), r1(w, h, bpp), r2(w, h, bpp), r3(w, h, bpp) {
    scratch.resize(c.view().stride);
  }
  LosslessFrames Frames() {
    return LosslessFrames{c.view(), r1.view(), r2.view(), r3.view(), scratch.data()};
  }
  void Fill(const Rect& r, uint32_t pattern) {
    std::mt19937 rng(pattern);
    const PlaneView& v = c.view();
    for (int32_t y = r.top; y < r.bottom; ++y) {
      for (int32_t x = r.left; x < r.right; ++x) {
        for (uint32_t b = 0; b < v.bytes_per_pixel; ++b) v.At(x, y)[b] = static_cast<uint8_t>(rng());
      }
    }
  }
  void FillSolid(const Rect& r, uint8_t value) {
    const PlaneView& v = c.view();
    for (int32_t y = r.top; y < r.bottom; ++y) std::memset(v.At(r.left, y), value, r.Width() * v.bytes_per_pixel);
  }
  // Copies a block of C to another place (a window drag).
  void Blit(const Rect& from, int32_t to_x, int32_t to_y) {
    const PlaneView& v = c.view();
    std::vector<uint8_t> tmp(static_cast<size_t>(from.Width()) * from.Height() * v.bytes_per_pixel);
    const size_t row = static_cast<size_t>(from.Width()) * v.bytes_per_pixel;
    for (int32_t y = 0; y < from.Height(); ++y) std::memcpy(&tmp[y * row], v.At(from.left, from.top + y), row);
    for (int32_t y = 0; y < from.Height(); ++y) std::memcpy(v.At(to_x, to_y + y), &tmp[y * row], row);
  }
  Plane c, r1, r2, r3;
  std::vector<uint8_t> scratch;
};

bool SameOver(const PlaneView& surface, const Rect& capture, const PlaneView& decoded) {
  const size_t row = static_cast<size_t>(capture.Width()) * surface.bytes_per_pixel;
  for (int32_t y = capture.top; y < capture.bottom; ++y) {
    if (std::memcmp(surface.At(capture.left, y), decoded.At(0, y - capture.top), row) != 0) return false;
  }
  return true;
}

class CodecTest : public ::testing::Test {
 protected:
  void Init(int32_t w, int32_t h, uint32_t bpp, Rect capture = {}) {
    cap_ = std::make_unique<Capture>(w, h, bpp);
    capture_ = capture.IsEmpty() ? Rect{0, 0, w, h} : capture;
    encoder_.SetRecordKinds(true);
    ASSERT_TRUE(decoder_.SetFormat(capture_.Width(), capture_.Height(), bpp,
                                   StrideFor(static_cast<uint32_t>(capture_.Width()) * bpp)));
  }
  // Encodes one frame over the dirty region and decodes it; checks the
  // decoded picture and the planes on both sides.
  void Step(Region dirty, bool key = false) {
    if (key) dirty.SetRect(capture_);
    dirty.Intersect(capture_);
    ASSERT_TRUE(encoder_.EncodeRowCommands(cap_->Frames(), capture_, dirty, key, &bytes_));
    packet_length_ = encoder_.PacketLength();
    if (packet_length_ != 0) {
      ASSERT_TRUE(decoder_.Decode(encoder_.PacketData(), packet_length_)) << decoder_.Error();
    }
    ASSERT_TRUE(SameOver(cap_->c.view(), capture_, decoder_.Picture()));
    ASSERT_TRUE(SameOver(cap_->r1.view(), capture_, decoder_.R1()));
    ASSERT_TRUE(SameOver(cap_->r2.view(), capture_, decoder_.R2()));
    ASSERT_TRUE(SameOver(cap_->r3.view(), capture_, decoder_.R3()));
  }
  const std::vector<uint16_t>& Kinds() const { return encoder_.LastKinds(); }
  bool AllKinds(uint16_t kind) const {
    for (uint16_t k : encoder_.LastKinds()) {
      if (k != kind) return false;
    }
    return !encoder_.LastKinds().empty();
  }
  size_t CountKind(uint16_t kind) const { return std::count(Kinds().begin(), Kinds().end(), kind); }

  ScriptedDesktopState desktop_;
  LosslessEncoder encoder_{&desktop_};
  LosslessDecoder decoder_;
  std::unique_ptr<Capture> cap_;
  Rect capture_;
  uint64_t bytes_ = 0;
  uint32_t packet_length_ = 0;
};

TEST_F(CodecTest, FirstPacketIsOneKeyRowPerCaptureRow) {
  Init(200, 120, 4, Rect{10, 20, 170, 100});
  cap_->Fill({0, 0, 200, 120}, 1);
  Step(Region(), true);
  EXPECT_EQ(Kinds().size(), 80u);
  EXPECT_TRUE(AllKinds(kKeyRow));
  EXPECT_EQ(bytes_, 80u * (12 + 160 * 4));
  // R1 = R2 = R3 = P over the capture rectangle (checked by Step).
}

TEST_F(CodecTest, NothingChangedGivesAnEmptyPacket) {
  Init(64, 64, 4);
  cap_->Fill({0, 0, 64, 64}, 2);
  Step(Region(), true);
  const uint64_t after_key = bytes_;
  Step(Region());
  EXPECT_EQ(packet_length_, 0u);
  EXPECT_EQ(bytes_, after_key);
  // The pointer area reported but unchanged: still nothing to send.
  desktop_.pointer = {true, 20, 20, 0, 0, 16, 16};
  Step(Region(Rect{20, 20, 36, 36}));
  EXPECT_EQ(packet_length_, 0u);
}

TEST_F(CodecTest, MovingOnlyThePointerCopiesItAndRestoresWhatItLeft) {
  Init(128, 96, 4);
  cap_->Fill({0, 0, 128, 96}, 3);
  desktop_.pointer = {false, 0, 0, 0, 0, 16, 16};
  Step(Region(), true);
  // The pointer appears at (40, 30): cursor XOR, R2 and R3 do not take it.
  desktop_.pointer = {true, 40, 30, 0, 0, 16, 16};
  cap_->FillSolid({40, 30, 56, 46}, 0xEE);
  Step(Region(Rect{40, 30, 56, 46}));
  EXPECT_TRUE(AllKinds(kCursorXor));
  // It moves by (+5, +3): redraw the background where it was, the sprite where it is.
  Region dirty(Rect{40, 30, 56, 46});
  dirty.Union(Rect{45, 33, 61, 49});
  std::memcpy(cap_->c.data(), cap_->r3.data(), cap_->c.size());  // background again
  desktop_.pointer = {true, 45, 33, 0, 0, 16, 16};
  cap_->FillSolid({45, 33, 61, 49}, 0xEE);
  Step(dirty);
  EXPECT_EQ(CountKind(kCursorMove), 16u);
  EXPECT_GT(CountKind(kBackgroundRestore), 0u);
  EXPECT_EQ(CountKind(kCursorMove) + CountKind(kBackgroundRestore), Kinds().size());
}

class WindowDrag : public CodecTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WindowDrag, ButtonDownDragsButtonUpSendsXorData) {
  const bool button = GetParam();
  Init(160, 120, 4);
  cap_->Fill({0, 0, 160, 120}, 4);
  cap_->Fill({20, 20, 80, 70}, 5);  // the window
  desktop_.pointer = {false, 50, 40, 0, 0, 0, 0};
  Step(Region(), true);
  // Dragged by (+12, +7): the pointer moved the same way.
  cap_->Blit({20, 20, 80, 70}, 32, 27);
  cap_->Fill({20, 20, 32, 70}, 6);  // what the window left shows something new
  cap_->Fill({20, 20, 80, 27}, 7);
  desktop_.pointer = {false, 62, 47, 0, 0, 0, 0};
  desktop_.has_window = true;
  desktop_.window = {32, 27, 92, 77};
  desktop_.left_button = button;
  Region dirty(Rect{20, 20, 80, 70});
  dirty.Union(Rect{32, 27, 92, 77});
  Step(dirty);
  if (button) {
    EXPECT_EQ(CountKind(kWindowDrag), 50u);
    EXPECT_EQ(CountKind(kWindowXor), 0u);
  } else {
    EXPECT_EQ(CountKind(kWindowDrag), 0u);
    EXPECT_EQ(CountKind(kWindowXor), 50u);
  }
  EXPECT_EQ(CountKind(kBackgroundXor), 7u + 43u);  // the L-shaped area left behind
}

INSTANTIATE_TEST_SUITE_P(Button, WindowDrag, ::testing::Bool());

TEST_F(CodecTest, UncoveredBackgroundIsRestoredFromR3) {
  Init(100, 80, 3);
  cap_->Fill({0, 0, 100, 80}, 8);
  Step(Region(), true);
  const Plane background = cap_->c;
  // A window opens over (10, 10, 60, 40) and has the focus.
  desktop_.has_window = true;
  desktop_.window = {10, 10, 60, 40};
  cap_->Fill({10, 10, 60, 40}, 9);
  Step(Region(Rect{10, 10, 60, 40}));
  EXPECT_TRUE(AllKinds(kWindowXor));
  // It closes: the desktop under it is as it was.
  desktop_.has_window = false;
  std::memcpy(cap_->c.data(), background.bytes().data(), background.size());
  Step(Region(Rect{10, 10, 60, 40}));
  EXPECT_TRUE(AllKinds(kBackgroundRestore));
}

TEST_F(CodecTest, UnchangedRunsBecomeRefreshCommands) {
  Init(80, 60, 2);
  cap_->Fill({0, 0, 80, 60}, 10);
  Step(Region(), true);
  // Pointer XOR at (8, 8): R1 takes it, R2 and R3 do not.
  desktop_.pointer = {true, 8, 8, 0, 0, 8, 8};
  cap_->Fill({8, 8, 16, 16}, 11);
  Step(Region(Rect{8, 8, 16, 16}));
  EXPECT_TRUE(AllKinds(kCursorXor));
  // The same pixels reported again inside the focused window: window refresh.
  desktop_.pointer = {false, 8, 8, 0, 0, 8, 8};
  desktop_.has_window = true;
  desktop_.window = {0, 0, 40, 40};
  Step(Region(Rect{8, 8, 16, 16}));
  EXPECT_TRUE(AllKinds(kWindowRefresh));
  // And again with no window: R3 still differs, R1 matches: background refresh.
  desktop_.has_window = false;
  Step(Region(Rect{8, 8, 16, 16}));
  EXPECT_TRUE(AllKinds(kBackgroundRefresh));
  // Now R3 has it too: restore.
  Step(Region(Rect{8, 8, 16, 16}));
  EXPECT_TRUE(AllKinds(kBackgroundRestore));
}

TEST_F(CodecTest, WindowRegionShapesTheWindowArea) {
  Init(100, 100, 4);
  cap_->Fill({0, 0, 100, 100}, 12);
  Step(Region(), true);
  desktop_.has_window = true;
  desktop_.window = {0, 0, 100, 100};
  desktop_.has_window_region = true;
  desktop_.window_region.SetRect({0, 0, 50, 100});  // only the left half
  cap_->Fill({0, 0, 100, 10}, 13);
  Step(Region(Rect{0, 0, 100, 10}));
  EXPECT_EQ(CountKind(kWindowXor), 10u);
  EXPECT_EQ(CountKind(kBackgroundXor), 10u);
}

// Random screens and random change sequences at every depth: the decoder
// follows the encoder bit for bit after every packet (checked in Step).
TEST_F(CodecTest, RandomSequencesRoundTripAtEveryDepth) {
  for (uint32_t bpp = 1; bpp <= 4; ++bpp) {
    std::mt19937 rng(100 + bpp);
    const int32_t w = 96 + static_cast<int32_t>(rng() % 64), h = 64 + static_cast<int32_t>(rng() % 48);
    const Rect capture{static_cast<int32_t>(rng() % 8), static_cast<int32_t>(rng() % 8), w - static_cast<int32_t>(rng() % 8),
                       h - static_cast<int32_t>(rng() % 8)};
    decoder_ = LosslessDecoder();
    encoder_.Release();
    Init(w, h, bpp, capture);
    cap_->Fill({0, 0, w, h}, rng());
    Step(Region(), true);
    auto random_rect = [&](int32_t max_w, int32_t max_h) {
      const int32_t x = static_cast<int32_t>(rng() % w), y = static_cast<int32_t>(rng() % h);
      return Rect{x, y, std::min(w, x + 1 + static_cast<int32_t>(rng() % max_w)),
                  std::min(h, y + 1 + static_cast<int32_t>(rng() % max_h))};
    };
    for (int frame = 0; frame < 60; ++frame) {
      Region dirty;
      const int changes = 1 + static_cast<int>(rng() % 4);
      for (int i = 0; i < changes; ++i) {
        const Rect r = random_rect(40, 30);
        switch (rng() % 4) {
          case 0:
            cap_->Fill(r, rng());
            dirty.Union(r);
            break;
          case 1: {  // move a block
            const int32_t tx = static_cast<int32_t>(rng() % (w - r.Width() + 1));
            const int32_t ty = static_cast<int32_t>(rng() % (h - r.Height() + 1));
            cap_->Blit(r, tx, ty);
            dirty.Union(Rect{tx, ty, tx + r.Width(), ty + r.Height()});
            break;
          }
          case 2:  // reported but unchanged
            dirty.Union(r);
            break;
          default:  // a solid patch that may repeat older content
            cap_->FillSolid(r, static_cast<uint8_t>(rng() % 3));
            dirty.Union(r);
        }
      }
      desktop_.pointer = {rng() % 2 == 0, static_cast<int32_t>(rng() % w), static_cast<int32_t>(rng() % h), 2, 2,
                          16, 16};
      desktop_.has_window = rng() % 3 != 0;
      desktop_.window = random_rect(80, 60);
      desktop_.left_button = rng() % 2 == 0;
      Step(dirty, rng() % 25 == 0);
      if (HasFatalFailure()) {
        ADD_FAILURE() << "bpp " << bpp << " frame " << frame;
        return;
      }
    }
  }
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& payload) {
  uLongf n = compressBound(static_cast<uLong>(payload.size()));
  std::vector<uint8_t> out(n);
  EXPECT_EQ(compress(out.data(), &n, payload.data(), static_cast<uLong>(payload.size())), Z_OK);
  out.resize(n);
  return out;
}

std::vector<uint8_t> Command(RowCommand c, size_t data_bytes = 0, uint8_t fill = 0x5A) {
  std::vector<uint8_t> v(kRowCommandSize);
  c.Store(v.data());
  v.insert(v.end(), data_bytes, fill);
  return v;
}

RowCommand Cmd(int16_t sx, int16_t sy, int16_t dx, int16_t dy, int16_t w, uint8_t source, uint8_t mask) {
  RowCommand c;
  c.src_x = sx;
  c.src_y = sy;
  c.dst_x = dx;
  c.dst_y = dy;
  c.width = w;
  c.source = source;
  c.mask = mask;
  return c;
}

TEST(LosslessDecoder, ZeroWidthCommandCopiesNothing) {
  LosslessDecoder d;
  ASSERT_TRUE(d.SetFormat(16, 4, 4, 64));
  auto payload = Command(Cmd(3, 1, 3, 1, 0, kSourceData, 7));
  auto more = Command(Cmd(0, 0, 0, 0, 2, kSourceData, 1), 8, 0x11);
  payload.insert(payload.end(), more.begin(), more.end());
  const auto packet = Compress(payload);
  ASSERT_TRUE(d.Decode(packet.data(), packet.size())) << d.Error();
  EXPECT_EQ(d.Picture().At(0, 0)[0], 0x11);
  EXPECT_EQ(d.Picture().At(3, 1)[0], 0);
  EXPECT_EQ(d.R1().At(1, 0)[3], 0x11);
  EXPECT_EQ(d.R2().At(1, 0)[3], 0);
}

// Damaged packets fail and leave the picture and every reference plane as
// they were.
TEST(LosslessDecoder, DamagedPacketsFailAndChangeNothing) {
  LosslessDecoder d;
  ASSERT_TRUE(d.SetFormat(32, 8, 4, 128));
  auto good = Compress(Command(Cmd(0, 0, 0, 0, 32, kSourceData, 7), 128, 0x42));
  ASSERT_TRUE(d.Decode(good.data(), good.size()));
  const std::vector<uint8_t> p(d.Picture().data, d.Picture().data + 128 * 8);

  std::vector<std::vector<uint8_t>> bad;
  bad.push_back(std::vector<uint8_t>(good.begin(), good.end() - 3));                        // truncated zlib
  bad.push_back({0x78, 0x9C, 0xFF, 0xFF, 0xFF});                                          // garbage deflate
  bad.push_back(Compress(Command(Cmd(0, 0, 30, 0, 4, kSourceData, 1), 16)));              // past the right edge
  bad.push_back(Compress(Command(Cmd(0, 0, 0, 8, 1, kSourceData, 1), 4)));                // below the last row
  bad.push_back(Compress(Command(Cmd(0, 0, -1, 0, 1, kSourceData, 1), 4)));               // negative x
  bad.push_back(Compress(Command(Cmd(0, 0, 0, 0, 4, kSourceData, 1), 15)));               // data cut short
  bad.push_back(Compress(Command(Cmd(29, 0, 0, 0, 4, kSourceR2, 1))));                    // source outside
  bad.push_back(Compress(Command(Cmd(0, 0, 0, 0, 4, 8, 1))));                             // unknown source
  bad.push_back(Compress(Command(Cmd(0, 0, 0, 0, -32768, kSourceData, 1))));              // huge XOR run
  auto two = Command(Cmd(0, 0, 0, 1, 4, kSourceData, 7), 16, 0x99);
  two.resize(two.size() + 5);  // a valid command, then a truncated one
  bad.push_back(Compress(two));
  bad.push_back({});
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_FALSE(d.Decode(bad[i].data(), bad[i].size())) << "case " << i;
    EXPECT_FALSE(d.Error().empty());
    EXPECT_TRUE(std::equal(p.begin(), p.end(), d.Picture().data)) << "case " << i;
    EXPECT_EQ(d.R1().At(5, 0)[0], 0x42) << "case " << i;
  }
}

TEST(LosslessDecoder, RefusesFormatsItCannotAddress) {
  LosslessDecoder d;
  EXPECT_FALSE(d.SetFormat(40000, 10, 4, 160000));
  EXPECT_FALSE(d.SetFormat(10, 10, 5, 52));
  EXPECT_FALSE(d.SetFormat(0, 10, 4, 0));
  uint8_t x = 1;
  EXPECT_FALSE(d.Decode(&x, 1));
}

TEST(XorRun, MatchesAByteLoopAndTellsDifference) {
  std::mt19937 rng(7);
  for (size_t n : {0u, 1u, 63u, 64u, 65u, 200u, 4096u}) {
    std::vector<uint8_t> a(n), b(n), out(n);
    for (auto& v : a) v = static_cast<uint8_t>(rng());
    b = a;
    EXPECT_FALSE(XorRun(a.data(), b.data(), out.data(), n));
    if (n == 0) continue;
    b[rng() % n] ^= 0x10;
    EXPECT_TRUE(XorRun(a.data(), b.data(), out.data(), n));
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], a[i] ^ b[i]);
  }
}

}  // namespace
}  // namespace kmr
