#include "recorder/capture/testing/capture_and_code.h"
#include "recorder/capture/screen_capture_source.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/desktop_state/fake/scripted_desktop_state.h"
#include "platform/mirror/fake/memory_mirror.h"
#include "player/codecs/lossless_decoder.h"
#include "recorder/codecs/lossless_frame_encoder.h"
#include "recorder/codecs/testing/raw_frame_encoder.h"
#include "shared/pixel/convert.h"

namespace kmr {
namespace {

using platform::MemoryMirror;
using platform::ScriptedDesktopState;

void Paint(MemoryMirror& m, const Rect& r, uint32_t pattern) {
  std::mt19937 rng(pattern);
  const PlaneView& v = m.screen().view();
  for (int32_t y = r.top; y < r.bottom; ++y) {
    for (int32_t x = r.left; x < r.right; ++x) {
      for (uint32_t b = 0; b < v.bytes_per_pixel; ++b) v.At(x, y)[b] = static_cast<uint8_t>(rng());
    }
  }
  m.Draw(r);
}

class CaptureTest : public ::testing::Test {
 protected:
  void Start(int32_t w, int32_t h, uint32_t bits, FrameEncoder* codec = nullptr) {
    source_.reset();  // before the mirror it uses
    mirror_ = std::make_unique<MemoryMirror>(w, h, bits);
    Paint(*mirror_, {0, 0, w, h}, 1);
    source_ = std::make_unique<ScreenCaptureSource>(mirror_.get());
    codec_ = codec != nullptr ? codec : &lossless_;
    ASSERT_TRUE(source_->Prepare(codec_)) << source_->Error();
  }
  // Encodes a frame and decodes it; the decoded picture must equal the
  // mirror's surface over the capture rectangle.
  void FrameAndCheck() {
    ASSERT_TRUE(testing::CaptureAndCode(*source_, *codec_));
    const Rect cap = source_->CaptureRect();
    if (decoder_size_ != cap) {
      ASSERT_TRUE(codec_->IsKeyFrame());
      ASSERT_TRUE(decoder_.SetFormat(cap.Width(), cap.Height(), source_->Format().bitmap.bit_count / 8, 0));
      decoder_size_ = cap;
    }
    if (codec_->PacketLength() != 0) {
      ASSERT_TRUE(decoder_.Decode(codec_->PacketData(), codec_->PacketLength())) << decoder_.Error();
    }
    const PlaneView& s = mirror_->surface().view();
    for (int32_t y = cap.top; y < cap.bottom; ++y) {
      ASSERT_EQ(std::memcmp(s.At(cap.left, y), decoder_.Picture().At(0, y - cap.top),
                            static_cast<size_t>(cap.Width()) * s.bytes_per_pixel),
                0)
          << "row " << y;
    }
  }

  ScriptedDesktopState desktop_;
  LosslessFrameEncoder lossless_{&desktop_};
  FrameEncoder* codec_ = nullptr;
  std::unique_ptr<MemoryMirror> mirror_;
  std::unique_ptr<ScreenCaptureSource> source_;
  LosslessDecoder decoder_;
  Rect decoder_size_{-1, -1, -1, -1};
};

TEST_F(CaptureTest, PrepareAttachesMapsAndRequestsAKeyFrame) {
  Start(320, 200, 32);
  EXPECT_TRUE(source_->IsStarted());
  EXPECT_TRUE(mirror_->attached);
  EXPECT_TRUE(mirror_->tracking);
  EXPECT_TRUE(source_->KeyFramePending());
  EXPECT_EQ(source_->Format().bitmap.height, -200);
  EXPECT_EQ(source_->Frame().stride, 1280u);
  source_->Release();
  EXPECT_FALSE(mirror_->attached);
  EXPECT_EQ(mirror_->maps, 0);
  source_->Release();  // safe on a closed source
}

TEST_F(CaptureTest, FailedAttachLeavesNothingBehind) {
  MemoryMirror m(64, 64, 32);
  m.fail_attach = true;
  ScreenCaptureSource s(&m);
  EXPECT_FALSE(s.Prepare(&lossless_));
  EXPECT_EQ(s.Error(), "the screen capture could not be attached");
  EXPECT_FALSE(s.IsStarted());
  EXPECT_FALSE(s.Frame().IsValid());
  EXPECT_FALSE(m.attached);
}

// A codec whose library is missing: the start fails with its reason and
// leaves the screen detached.
class MissingLibraryCodec : public RawFrameEncoder {
 public:
  bool Start(int32_t, int32_t, uint32_t, std::string* error) override {
    *error = "xvidcore.dll could not be loaded";
    return false;
  }
};

TEST_F(CaptureTest, CodecThatCannotStartFailsThePrepareWithItsReason) {
  MemoryMirror m(64, 64, 32);
  ScreenCaptureSource s(&m);
  MissingLibraryCodec codec;
  EXPECT_FALSE(s.Prepare(&codec));
  EXPECT_EQ(s.Error(), "xvidcore.dll could not be loaded");
  EXPECT_FALSE(m.attached);
  EXPECT_EQ(m.maps, 0);
  EXPECT_FALSE(s.Prepare(nullptr));
}

TEST_F(CaptureTest, EightBitDesktopOnlyRecordsLosslessly) {
  MemoryMirror m(64, 64, 8);
  ScreenCaptureSource s(&m);
  RawFrameEncoder raw;
  EXPECT_FALSE(s.Prepare(&raw));
  EXPECT_EQ(s.Error(), "a 256-colour screen can only be recorded with the lossless codec");
  EXPECT_TRUE(s.Prepare(&lossless_));
  EXPECT_EQ(s.Format().colour_table.size(), 1024u);
}

TEST_F(CaptureTest, EmptyRingAndNoKeyFrameCostsNothing) {
  Start(128, 96, 32);
  FrameAndCheck();
  EXPECT_TRUE(codec_->IsKeyFrame());
  FrameAndCheck();
  EXPECT_FALSE(codec_->IsKeyFrame());
  EXPECT_EQ(codec_->PacketLength(), 0u);
  EXPECT_EQ(source_->LastRingCount(), 0u);
}

TEST_F(CaptureTest, PendingKeyFrameCoversExactlyTheCaptureRectangle) {
  Start(200, 150, 32);
  source_->SetRect({20, 10, 120, 90});
  ASSERT_TRUE(testing::CaptureAndCode(*source_, *codec_));
  std::vector<Rect> rects;
  // The dirty region was emptied after encoding; the packet tells its size.
  EXPECT_TRUE(codec_->IsKeyFrame());
  EXPECT_EQ(source_->CaptureRect(), (Rect{20, 10, 120, 90}));
  EXPECT_EQ(lossless_.BytesSinceKeyFrame(), 80u * (12 + 100 * 4));
}

TEST_F(CaptureTest, ChangesOutsideTheCaptureRectangleAreClipped) {
  Start(200, 150, 32);
  source_->SetRect({50, 50, 150, 100});
  FrameAndCheck();
  const uint64_t after_key = lossless_.BytesSinceKeyFrame();
  Paint(*mirror_, {0, 0, 60, 60}, 7);  // partly inside
  FrameAndCheck();
  EXPECT_FALSE(codec_->IsKeyFrame());
  EXPECT_GT(codec_->PacketLength(), 0u);
  EXPECT_EQ(lossless_.BytesSinceKeyFrame() - after_key, 10u * (12 + 10 * 4));
}

TEST_F(CaptureTest, SameRectangleAgainChangesNothingAndAMoveRaisesAKeyFrame) {
  Start(200, 150, 32);
  source_->SetRect({10, 10, 110, 60});
  FrameAndCheck();
  source_->SetRect({10, 10, 110, 60});
  FrameAndCheck();
  EXPECT_FALSE(codec_->IsKeyFrame());
  source_->SetRect({20, 10, 120, 60});  // moved 10 to the right, same size
  FrameAndCheck();
  EXPECT_TRUE(codec_->IsKeyFrame());
}

TEST_F(CaptureTest, KeyIntervalReachedMakesTheNextFrameAKeyFrame) {
  Start(64, 64, 32);
  source_->SetKeyInterval(3000);
  FrameAndCheck();  // key: 64 × (12 + 256) = 17152 bytes, count restarts from it
  EXPECT_TRUE(codec_->IsKeyFrame());
  Paint(*mirror_, {0, 0, 8, 8}, 3);
  FrameAndCheck();
  EXPECT_TRUE(codec_->IsKeyFrame());  // the key frame's own bytes already reached it
  source_->SetKeyInterval(100000);
  Paint(*mirror_, {0, 0, 8, 8}, 4);
  FrameAndCheck();
  EXPECT_FALSE(codec_->IsKeyFrame());
}

TEST_F(CaptureTest, ShrunkenScreenIsBlackedOutEveryFrame) {
  Start(100, 80, 32);
  FrameAndCheck();
  mirror_->metrics_.width = 90;
  for (int i = 0; i < 2; ++i) {
    Paint(*mirror_, {0, 0, 100, 80}, 10 + i);
    FrameAndCheck();
    const PlaneView& f = source_->Frame();
    for (int32_t y = 0; y < 80; ++y) {
      for (int32_t x = 90; x < 100; ++x) ASSERT_EQ(f.At(x, y)[0] | f.At(x, y)[1] | f.At(x, y)[2], 0);
    }
  }
}

// A display mode change while recording: the new screen size is read, the
// frames keep the surface's size and go on decoding; an idle source says so.
TEST_F(CaptureTest, ADisplayChangeWhileRecordingKeepsTheFrames) {
  ScreenCaptureSource idle(nullptr);
  EXPECT_FALSE(idle.OnDisplayChange(true));
  Start(100, 80, 32);
  FrameAndCheck();
  mirror_->metrics_.width = 80;
  mirror_->metrics_.height = 60;
  EXPECT_TRUE(source_->OnDisplayChange(false));
  EXPECT_EQ(source_->Screen().width, 100) << "the interface's thread does not touch what the capture reads";
  Paint(*mirror_, {0, 0, 100, 80}, 7);
  FrameAndCheck();
  EXPECT_EQ(source_->Screen().width, 80) << "the next frame reads the new size";
  EXPECT_EQ(source_->Screen().height, 60);
  EXPECT_EQ(source_->Frame().width, 100);
}

// More rectangles than the ring holds: the oldest were overwritten, so the
// whole surface is refreshed and nothing is lost; none of the 9000 stale
// rectangles is merged into the region on the way.
TEST_F(CaptureTest, RingOverflowBetweenDrainsLosesNoChange) {
  Start(256, 128, 16);
  FrameAndCheck();
  std::mt19937 rng(5);
  for (int i = 0; i < 9000; ++i) {
    const int32_t x = static_cast<int32_t>(rng() % 250), y = static_cast<int32_t>(rng() % 120);
    Paint(*mirror_, {x, y, x + 6, y + 8}, static_cast<uint32_t>(i));
  }
  FrameAndCheck();
  EXPECT_EQ(source_->LastRingCount(), 0u);
}

TEST_F(CaptureTest, RandomDrawingDecodesToTheSurfaceAtEveryDepth) {
  for (uint32_t bits : {8u, 16u, 24u, 32u}) {
    decoder_size_ = Rect{-1, -1, -1, -1};
    Start(150, 100, bits);
    std::mt19937 rng(bits);
    for (int frame = 0; frame < 30; ++frame) {
      for (int k = 0; k < 3; ++k) {
        const int32_t x = static_cast<int32_t>(rng() % 140), y = static_cast<int32_t>(rng() % 90);
        Paint(*mirror_, {x, y, x + 1 + static_cast<int32_t>(rng() % 10), y + 1 + static_cast<int32_t>(rng() % 10)},
              rng());
      }
      desktop_.pointer = {true, static_cast<int32_t>(rng() % 150), static_cast<int32_t>(rng() % 100), 0, 0, 12, 12};
      FrameAndCheck();
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(CaptureTest, InstalledCompressorGetsA32BitFrame) {
  RawFrameEncoder raw;
  Start(1366, 8, 24, &raw);
  EXPECT_EQ(source_->Frame().stride, 5464u);
  EXPECT_EQ(source_->Format().bitmap.bit_count, 32u);
  ASSERT_TRUE(testing::CaptureAndCode(*source_, *codec_));
  EXPECT_FALSE(codec_->IsKeyFrame());
  const PlaneView& s = mirror_->surface().view();
  EXPECT_EQ(s.stride, 4100u);
  EXPECT_EQ(source_->Frame().At(1000, 5)[1], s.At(1000, 5)[1]);
  EXPECT_EQ(source_->Frame().At(1000, 5)[3], 0);
  source_.reset();  // before the codec it uses
}

TEST(PixelConvert, WidensByRepeatingTheTopBits) {
  EXPECT_EQ(Widen5(31), 255);
  EXPECT_EQ(Widen5(16), 132);
  EXPECT_EQ(Widen6(63), 255);
  // 5-5-5 white and a pixel loop tail after four-pixel steps.
  std::vector<uint8_t> src(10);
  for (int i = 0; i < 5; ++i) {
    src[i * 2] = 0xFF;
    src[i * 2 + 1] = 0x7F;
  }
  std::vector<uint8_t> dst(20, 0xAA);
  Convert555To32(dst.data(), 20, src.data(), 10, 5, 1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(dst[i * 4], 255);
    EXPECT_EQ(dst[i * 4 + 2], 255);
    EXPECT_EQ(dst[i * 4 + 3], 0);
  }
  // 5-6-5: red only.
  src[0] = 0x00;
  src[1] = 0xF8;
  Convert565To32(dst.data(), 20, src.data(), 10, 1, 1);
  EXPECT_EQ(dst[0], 0);
  EXPECT_EQ(dst[1], 0);
  EXPECT_EQ(dst[2], 255);
  // 24 → 32 over eleven pixels (one eight-pixel step and a tail).
  std::vector<uint8_t> s24(33), d32(44);
  for (size_t i = 0; i < s24.size(); ++i) s24[i] = static_cast<uint8_t>(i);
  Convert24To32(d32.data(), 44, s24.data(), 33, 11, 1);
  for (int i = 0; i < 11; ++i) {
    EXPECT_EQ(d32[i * 4], i * 3);
    EXPECT_EQ(d32[i * 4 + 2], i * 3 + 2);
  }
}

}  // namespace
}  // namespace kmr
