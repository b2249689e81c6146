// The capture source over the mirror driver itself (on the fake graphics
// engine): drawing goes through the driver's hooks, and every decoded frame
// equals the driver's surface over the capture rectangle.
#include <gtest/gtest.h>

#include <random>

#include "recorder/capture/testing/capture_and_code.h"
#include "platform/desktop_state/fake/scripted_desktop_state.h"
#include "platform/mirror/fake/emulated_mirror.h"
#include "player/codecs/lossless_decoder.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/codecs/lossless_frame_encoder.h"

namespace kmr {
namespace {

class EmulatedMirrorTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(EmulatedMirrorTest, DecodedFramesEqualTheDriversSurface) {
  const uint32_t bits = GetParam();
  quarn::Harness driver(320, 200, bits);
  ASSERT_TRUE(driver.ok());
  platform::EmulatedMirror mirror(&driver);
  platform::ScriptedDesktopState desktop;
  LosslessFrameEncoder codec(&desktop);
  ScreenCaptureSource source(&mirror);
  ASSERT_TRUE(source.Prepare(&codec));
  source.SetRect(Rect{16, 8, 300, 190});
  const Rect cap = source.CaptureRect();
  LosslessDecoder decoder;
  ASSERT_TRUE(decoder.SetFormat(cap.Width(), cap.Height(), bits / 8, 0));
  std::mt19937 rng(bits);
  for (int frame = 0; frame < 40; ++frame) {
    for (int k = 0; k < 4; ++k) {
      const LONG x = static_cast<LONG>(rng() % 300), y = static_cast<LONG>(rng() % 180);
      const RECTL r{x, y, x + 1 + static_cast<LONG>(rng() % 40), y + 1 + static_cast<LONG>(rng() % 30)};
      switch (rng() % 3) {
        case 0:
          driver.Fill(r, static_cast<uint32_t>(rng()));
          break;
        case 1:
          driver.CopyWithin(r, POINTL{static_cast<LONG>(rng() % 280), static_cast<LONG>(rng() % 170)});
          break;
        default: {
          RECTL parts[2] = {{r.left, r.top, r.right, (r.top + r.bottom) / 2},
                            {r.left, (r.top + r.bottom) / 2, (r.left + r.right) / 2, r.bottom}};
          FakeClip clip;
          FakeClipComplex(&clip, parts, 2);
          driver.Fill(r, static_cast<uint32_t>(rng()), &clip.obj);
        }
      }
    }
    ASSERT_TRUE(testing::CaptureAndCode(source, codec));
    if (codec.PacketLength() != 0) {
      ASSERT_TRUE(decoder.Decode(codec.PacketData(), codec.PacketLength())) << decoder.Error();
    }
    for (int32_t y = cap.top; y < cap.bottom; ++y) {
      ASSERT_EQ(std::memcmp(driver.bits() + static_cast<size_t>(y) * driver.stride() + cap.left * (bits / 8),
                            decoder.Picture().At(0, y - cap.top), static_cast<size_t>(cap.Width()) * (bits / 8)),
                0)
          << "frame " << frame << " row " << y;
    }
  }
  source.Release();
}

INSTANTIATE_TEST_SUITE_P(Depth, EmulatedMirrorTest, ::testing::Values(8u, 16u, 24u, 32u));

// The recorder's escape client against the driver itself: it maps what the
// driver draws into, gets the rectangles drawn, and gives every mapping back.
TEST(QuarnClient, MapsTrackingAndGivesEverythingBack) {
  quarn::Harness driver(320, 200, 16);
  ASSERT_TRUE(driver.ok());
  platform::HarnessEscapes escapes(&driver);
  platform::QuarnClient client(&escapes);
  uint32_t w = 0, h = 0, bits = 0;
  ASSERT_TRUE(client.QueryMode(&w, &h, &bits));
  EXPECT_EQ(w, 320u);
  EXPECT_EQ(h, 200u);
  EXPECT_EQ(bits, 16u);
  const ULONG blocks = FakeMiniportBlocks();
  ASSERT_TRUE(client.Open(1024));
  EXPECT_EQ(client.Surface(), driver.bits());
  ASSERT_NE(client.Ring(), nullptr);
  EXPECT_EQ(quarn_ring_capacity(client.Ring()), 1024u);
  driver.Fill({5, 6, 7, 8}, 0x1234);
  EXPECT_EQ(client.Surface()[6 * driver.stride() + 5 * 2], 0x34);
  EXPECT_EQ(quarn_ring_write_sequence(client.Ring()), 1u);
  ASSERT_TRUE(client.SetTracking(false));
  driver.Fill({5, 6, 7, 8}, 0x4321);
  EXPECT_EQ(quarn_ring_write_sequence(client.Ring()), 1u);
  client.Close();
  EXPECT_EQ(client.Ring(), nullptr);
  EXPECT_EQ(FakeMiniportBlocks(), blocks) << "the ring the client made went back to the miniport";
  client.Close();  // twice is harmless
}

TEST(QuarnClient, ARefusedRingFailsTheOpenAndCloseStillCleansUp) {
  quarn::Harness driver(64, 64, 32);
  platform::HarnessEscapes escapes(&driver);
  platform::QuarnClient client(&escapes);
  const ULONG blocks = FakeMiniportBlocks();
  EXPECT_FALSE(client.Open(0));  // the driver refuses a ring of capacity 0
  client.Close();
  EXPECT_EQ(FakeMiniportBlocks(), blocks);
}

}  // namespace
}  // namespace kmr
