// The mirror driver on the fake graphics engine.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "driver/host/quarn_harness.h"

namespace kmr::quarn {
namespace {

std::vector<QuarnRect> Drain(uint8_t* ring) {
  std::vector<QuarnRect> out;
  quarn_ring_drain(
      ring, [](void* ctx, const QuarnRect* r) { static_cast<std::vector<QuarnRect>*>(ctx)->push_back(*r); }, &out);
  return out;
}

bool Same(const QuarnRect& q, LONG l, LONG t, LONG r, LONG b) {
  return q.left == l && q.top == t && q.right == r && q.bottom == b;
}

TEST(QuarnDriver, EnableDriverFillsWhatTheBufferHolds) {
  DRVENABLEDATA ded{};
  ded.c = 77;
  EXPECT_TRUE(DrvEnableDriver(DDI_DRIVER_VERSION_NT5, 4, &ded));
  EXPECT_EQ(ded.iDriverVersion, 0x30000u);
  EXPECT_EQ(ded.c, 77u);
  EXPECT_TRUE(DrvEnableDriver(DDI_DRIVER_VERSION_NT5, sizeof(ded), &ded));
  ASSERT_EQ(ded.c, 25u);
  std::vector<ULONG> indexes;
  for (ULONG i = 0; i < ded.c; ++i) indexes.push_back(ded.pdrvfn[i].iFunc);
  EXPECT_EQ(indexes, (std::vector<ULONG>{0, 1, 2, 3, 4, 5, 13, 14, 15, 16, 18, 19, 20, 22, 23, 24, 29, 30, 31, 38, 68,
                                         69, 70, 71, 74}));
}

TEST(QuarnDriver, CapabilitiesAndPaletteByDepth) {
  {
    Harness h(1280, 1024, 32);
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(h.gdi_info.ulVersion, 0x5000u);
    EXPECT_EQ(h.gdi_info.ulHorzRes, 1280u);
    EXPECT_EQ(h.gdi_info.ulNumColors, 0xFFFFFFFFu);
    EXPECT_EQ(h.dev_info.flGraphicsCaps, static_cast<FLONG>(GCAPS_OPAQUERECT | GCAPS_LAYERED));
    EXPECT_EQ(g_fake_last_bitmap_format, static_cast<ULONG>(BMF_32BPP));
    EXPECT_EQ(g_fake_last_hooks, 0x3B5EFu);
    EXPECT_EQ(h.dev_info.lfDefaultFont.lfHeight, 16);
    EXPECT_EQ(h.dev_info.lfAnsiFixFont.lfFaceName[0], 'C');
  }
  {
    Harness h(800, 600, 16);
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(g_fake_last_palette_mode, static_cast<ULONG>(PAL_BITFIELDS));
    EXPECT_EQ(g_fake_last_palette_masks[0], 0xF800u);
    EXPECT_EQ(g_fake_last_palette_masks[1], 0x07E0u);
    EXPECT_EQ(g_fake_last_palette_masks[2], 0x001Fu);
    EXPECT_EQ(g_fake_last_bitmap_format, static_cast<ULONG>(BMF_16BPP));
    EXPECT_EQ(h.dev_info.iDitherFormat, static_cast<ULONG>(BMF_16BPP));
  }
  {
    Harness h(640, 480, 8);
    ASSERT_TRUE(h.ok());
    EXPECT_EQ(g_fake_last_palette_mode, static_cast<ULONG>(PAL_INDEXED));
    EXPECT_EQ(h.gdi_info.ulNumColors, 20u);
    EXPECT_EQ(h.gdi_info.ulNumPalReg, 256u);
    EXPECT_EQ(g_fake_last_palette_colors[1], 128u);                 // (128, 0, 0)
    EXPECT_EQ(g_fake_last_palette_colors[9], 166u | (202u << 8) | (240u << 16));
    EXPECT_EQ(g_fake_last_palette_colors[255], 0xFFFFFFu);
    EXPECT_EQ(g_fake_last_palette_colors[10], 64u | (32u << 8));  // 32 × 2, 32 × 1, 0
    EXPECT_NE(h.dev_info.flGraphicsCaps & GCAPS_PALMANAGED, 0u);
  }
  EXPECT_EQ(FakeMiniportBlocks(), 0u);  // every block given back
}

TEST(QuarnDriver, EscapesAnswerAsTheProtocolSays) {
  Harness h(1280, 1024, 32);
  ASSERT_TRUE(h.ok());
  ULONG mode = 0;
  EXPECT_EQ(h.Escape(QUARN_ESC_QUERY_MODE, nullptr, 0, &mode, 4), 1u);
  EXPECT_EQ(mode, 0x20400500u);
  uint8_t small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(h.Escape(QUARN_ESC_MAP_SURFACE, nullptr, 0, small, 4), 1u);
  EXPECT_EQ(small[0], 0xAA);  // mapped, nothing written
  uint8_t reply[8] = {};
  EXPECT_EQ(h.Escape(QUARN_ESC_MAP_SURFACE, nullptr, 0, reply, 8), 1u);
  EXPECT_EQ(FakeMiniportPointer(quarn_mapping_reply_word(reply, 0)), h.bits());
  const uint16_t two = 8;
  EXPECT_EQ(h.Escape(QUARN_ESC_MAP_CHANGE_RING, &two, 2, reply, 8), 0u);
  EXPECT_EQ(h.Escape(QUARN_ESC_MAP_CHANGE_RING, nullptr, 0, reply, 8), 0u);
  const ULONG zero = 0;
  EXPECT_EQ(h.Escape(QUARN_ESC_MAP_CHANGE_RING, &zero, 4, reply, 8), 0u);
  EXPECT_EQ(h.Escape(0x11117, nullptr, 0, nullptr, 0), 0u);
  const ULONG capacity = 8192;
  EXPECT_EQ(h.Escape(QUARN_ESC_MAP_CHANGE_RING, &capacity, 4, reply, 8), 1u);
  auto* ring = static_cast<uint8_t*>(FakeMiniportPointer(quarn_mapping_reply_word(reply, 0)));
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(quarn_ring_capacity(ring), 8192u);
  // Escapes that do not reach an enabled surface of ours fail.
  SURFOBJ foreign{};
  EXPECT_EQ(DrvEscape(&foreign, QUARN_ESC_QUERY_MODE, 0, nullptr, 4, &mode), 0u);
  EXPECT_EQ(DrvEscape(nullptr, QUARN_ESC_ENABLE_TRACKING, 0, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(DrvSetPointerShape(h.surface(), nullptr, nullptr, nullptr, 0, 0, 0, 0, nullptr, 0), 0u);
}

TEST(QuarnDriver, DrawingIsRecordedOnlyWithARingAndTracking) {
  Harness h(1024, 768, 32);
  ASSERT_TRUE(h.ok());
  h.Fill({10, 10, 20, 20}, 0x123456);  // no ring, tracking off
  uint8_t* ring = h.Attach();
  EXPECT_EQ(quarn_ring_write_sequence(ring), 0u);
  h.Escape(QUARN_ESC_DISABLE_TRACKING, nullptr, 0, nullptr, 0);
  h.Fill({10, 10, 20, 20}, 0x123456);
  EXPECT_EQ(quarn_ring_write_sequence(ring), 0u);
  h.Escape(QUARN_ESC_ENABLE_TRACKING, nullptr, 0, nullptr, 0);
  FakeClip trivial;
  FakeClipTrivial(&trivial);
  h.Fill({10, 10, 20, 20}, 0xABCDEF, &trivial.obj);
  auto got = Drain(ring);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(Same(got[0], 10, 10, 20, 20));
  EXPECT_EQ(h.bits()[10 * h.stride() + 10 * 4], 0xEF);  // the engine really drew
  // Wholly outside: nothing.
  h.Fill({2000, 10, 2100, 20}, 1);
  EXPECT_TRUE(Drain(ring).empty());
  // Released ring: its memory goes back to the miniport, and drawing goes on
  // without touching it (under the address sanitizer a write there fails).
  const ULONG blocks = FakeMiniportBlocks();
  h.Escape(QUARN_ESC_UNMAP_CHANGE_RING, nullptr, 0, nullptr, 0);
  EXPECT_EQ(FakeMiniportBlocks(), blocks - 1);
  h.Fill({0, 0, 5, 5}, 1);
  // A new ring starts empty: nothing drawn in between was kept for it.
  uint8_t* fresh = h.Attach();
  EXPECT_EQ(quarn_ring_write_sequence(fresh), 0u);
  h.Escape(QUARN_ESC_UNMAP_CHANGE_RING, nullptr, 0, nullptr, 0);
  h.Escape(QUARN_ESC_UNMAP_SURFACE, nullptr, 0, nullptr, 0);
}

TEST(QuarnDriver, PathsUseTheClipOrTheWholeSurface) {
  Harness h(1024, 768, 32);
  uint8_t* ring = h.Attach();
  FakeClip rect;
  FakeClipRect(&rect, RECTL{0, 0, 100, 50});
  DrvStrokePath(h.surface(), nullptr, &rect.obj, nullptr, nullptr, nullptr, nullptr, 0);
  DrvStrokePath(h.surface(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  RECTL opaque{5, 6, 7, 8};
  DrvTextOut(h.surface(), nullptr, nullptr, nullptr, nullptr, &opaque, nullptr, nullptr, nullptr, 0);
  const auto got = Drain(ring);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(Same(got[0], 0, 0, 100, 50));
  EXPECT_TRUE(Same(got[1], 0, 0, 1024, 768));
  EXPECT_TRUE(Same(got[2], 5, 6, 7, 8));
}

TEST(QuarnDriver, ComplexClipsAreEnumeratedFiftyAtATimeAndClipped) {
  Harness h(200, 200, 16);
  uint8_t* ring = h.Attach();
  std::vector<RECTL> rects;
  for (LONG i = 0; i < 120; ++i) rects.push_back(RECTL{i, i, i + 100, i + 1});  // the last ones run past 200
  FakeClip clip;
  FakeClipComplex(&clip, rects.data(), static_cast<ULONG>(rects.size()));
  h.Fill({0, 0, 150, 200}, 0x1F, &clip.obj);
  const auto got = Drain(ring);
  ASSERT_EQ(got.size(), 120u);
  EXPECT_EQ(clip.direction, static_cast<ULONG>(CD_ANY));  // a fill has no source
  for (LONG i = 0; i < 120; ++i) {
    EXPECT_TRUE(Same(got[i], i, i, std::min<LONG>(i + 100, 150), i + 1)) << i;
  }
}

TEST(QuarnDriver, CopiesWithinTheSurfaceEnumerateAgainstTheMove) {
  Harness h(300, 300, 32);
  uint8_t* ring = h.Attach();
  RECTL rects[3] = {{0, 0, 100, 10}, {0, 10, 100, 20}, {0, 20, 100, 30}};
  FakeClip clip;
  FakeClipComplex(&clip, rects, 3);
  // Moving up and left: the source is below right, copy right-down.
  h.CopyWithin({0, 0, 100, 30}, POINTL{5, 5}, &clip.obj);
  EXPECT_EQ(clip.direction, static_cast<ULONG>(CD_RIGHTDOWN));
  auto got = Drain(ring);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(Same(got[0], 0, 0, 100, 10));
  // Moving down: left-up, the engine's list backwards.
  h.CopyWithin({0, 0, 100, 30}, POINTL{0, -5}, &clip.obj);
  EXPECT_EQ(clip.direction, static_cast<ULONG>(CD_LEFTUP));
  got = Drain(ring);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(Same(got[0], 0, 20, 100, 30));
}

TEST(QuarnDriver, RingOf8192TakesSlotOneFirstAndWraps) {
  Harness h(64, 64, 32);
  uint8_t* ring = h.Attach(8192);
  for (int i = 0; i < 8193; ++i) h.Fill({i % 60, 0, i % 60 + 1, 1}, 1);
  EXPECT_EQ(quarn_ring_write_sequence(ring), 8193u);
  const uint8_t* slot1 = ring + 12 + 16;
  EXPECT_EQ(slot1[0], 8192 % 60);
}

// Four threads draw 500 different rectangles each at once: every one of the
// 2000 is in the ring exactly once, so no two hooks ever shared a slot.
TEST(QuarnDriver, ConcurrentHooksNeverShareASlot) {
  Harness h(256, 256, 32);
  uint8_t* ring = h.Attach(4096);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&h, t] {
      for (int i = 0; i < 500; ++i) {
        const LONG x = t * 60 + i / 250, y = i % 250;
        BRUSHOBJ b;
        FakeBrush(&b, static_cast<ULONG>(t));
        RECTL r{x, y, x + 1, y + 1};
        DrvBitBlt(h.surface(), nullptr, nullptr, nullptr, nullptr, &r, nullptr, nullptr, &b, nullptr, 0xF0F0);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(quarn_ring_write_sequence(ring), 2000u);
  std::set<std::pair<LONG, LONG>> seen;
  for (const auto& r : Drain(ring)) {
    EXPECT_EQ(r.right - r.left, 1);
    EXPECT_EQ(r.bottom - r.top, 1);
    EXPECT_TRUE(seen.insert({r.left, r.top}).second) << "rectangle " << r.left << "," << r.top << " twice";
  }
  EXPECT_EQ(seen.size(), 2000u);
}

// Modes the surface is not laid out for are refused before anything is made.
TEST(QuarnDriver, EnablePDEVRefusesDepthsItCannotLayOut) {
  for (uint32_t bits : {0u, 1u, 4u, 15u, 48u, 64u}) {
    Harness h(64, 64, bits);
    EXPECT_EQ(h.device(), nullptr) << bits << " bits";
  }
  Harness none(0, 64, 32);
  EXPECT_EQ(none.device(), nullptr);
  for (uint32_t bits : {8u, 16u, 24u, 32u}) {
    Harness h(64, 64, bits);
    EXPECT_TRUE(h.ok()) << bits << " bits";
  }
}

TEST(QuarnDriver, SetPaletteSendsTheColourRegisters) {
  Harness h(64, 64, 8);
  const ULONG colors[3] = {0xFF112233u, 0x00445566u, 0x7F778899u};
  FakePaletteSetColors(colors, 3);
  PALOBJ pal{};
  const ULONG before = g_fake_clut_requests;
  EXPECT_TRUE(DrvSetPalette(h.device(), &pal, 0, 0, 3));
  EXPECT_EQ(g_fake_clut_requests, before + 1);
  EXPECT_EQ(g_fake_clut[0], 3);
  EXPECT_EQ(g_fake_clut[2], 0);
  EXPECT_EQ(g_fake_clut[4 + 3], 0);  // flags byte cleared
  EXPECT_EQ(g_fake_clut[4], 0x33);
  EXPECT_FALSE(DrvSetPalette(h.device(), &pal, 0, 0, 4));    // fewer colours came back
  EXPECT_FALSE(DrvSetPalette(h.device(), &pal, 0, 250, 10));  // past the 256 registers
}

}  // namespace
}  // namespace kmr::quarn
