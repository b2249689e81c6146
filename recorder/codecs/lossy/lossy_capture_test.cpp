// The lossy codec behind the capture source and the player's decoder, with
// the real xvidcore: a desktop-like clip keeps its quality on every frame,
// tiles never bleed into each other, moving or resizing the recorded
// rectangle starts the tiles over, and the player shows what a bare tile
// decoder shows.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "recorder/capture/testing/capture_and_code.h"
#include "platform/mirror/fake/memory_mirror.h"
#include "player/codecs/lossy/lossy_tile_decoder.h"
#include "player/codecs/screen_video_decoder.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/codecs/lossy/lossy_frame_encoder.h"
#include "recorder/outputs/container/container_stream.h"
#include "shared/testing/psnr.h"

namespace kmr {
namespace {

using platform::MemoryMirror;
using testing::Psnr420;

// A desktop (32-bit or 5-6-5): a shaded background, windows with a title bar, a white body and
// rows of dark glyph strokes; the top window moves and text is typed into
// the other.
class Desktop {
 public:
  Desktop(MemoryMirror* m) : m_(m), w_(m->screen().view().width), h_(m->screen().view().height) {
    Fill({0, 0, w_, h_}, 0, 0, 0, true);
    DrawWindow(Rect{40, 30, 460, 330}, 7);
    m_->Draw({0, 0, w_, h_});
  }
  // One frame of activity.
  void Step(int n) {
    const Rect old = moving_;
    moving_ = Rect{old.left + 6, old.top + 3, old.right + 6, old.bottom + 3};
    Fill(old, 0, 0, 0, true);
    DrawWindow(Rect{40, 30, 460, 330}, 7);
    DrawWindow(moving_, 11);
    m_->Draw(Union(old, moving_));
    // Typing: one glyph a frame in the fixed window.
    const int x = 60 + (n % 40) * 9, y = 80 + (n / 40) * 14;
    Glyph(x, y, static_cast<uint32_t>(n));
    m_->Draw({x, y, x + 8, y + 12});
  }

 private:
  static Rect Union(const Rect& a, const Rect& b) {
    return Rect{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
  }
  void Put(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
    uint8_t* p = m_->screen().view().At(x, y);
    if (m_->screen().view().bytes_per_pixel == 2) {  // a 5-6-5 screen
      const uint16_t v = static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      return;
    }
    p[0] = b;
    p[1] = g;
    p[2] = r;
    p[3] = 0;
  }
  void Fill(const Rect& r, uint8_t red, uint8_t green, uint8_t blue, bool background = false) {
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) {
        if (background) {
          Put(x, y, static_cast<uint8_t>(30 + y / 8), static_cast<uint8_t>(60 + y / 6), 140);
        } else {
          Put(x, y, red, green, blue);
        }
      }
    }
  }
  void Glyph(int x, int y, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int k = 0; k < 4; ++k) {
      const int sx = x + static_cast<int>(rng() % 6), sy = y + static_cast<int>(rng() % 8);
      const bool vertical = rng() % 2;
      for (int i = 0; i < 5; ++i) Put(vertical ? sx : sx + i % 6, vertical ? sy + i : sy, 20, 20, 30);
    }
  }
  void DrawWindow(const Rect& r, uint32_t seed) {
    Fill(r, 250, 250, 250);
    Fill(Rect{r.left, r.top, r.right, r.top + 22}, 40, 90, 180);
    for (int row = 0; row < 6; ++row) {
      for (int col = 0; col < 20; ++col) Glyph(r.left + 12 + col * 9, r.top + 40 + row * 14, seed * 1000 + row * 20 + col);
    }
  }

  MemoryMirror* m_;
  int32_t w_, h_;
  Rect moving_{300, 200, 620, 420};
};

struct Chunk {
  uint32_t tile, key;
};
std::vector<Chunk> Chunks(const uint8_t* p, size_t n) {
  std::vector<Chunk> out;
  for (size_t at = 0; at + 8 <= n;) {
    out.push_back(Chunk{static_cast<uint32_t>(p[at] | p[at + 1] << 8), static_cast<uint32_t>(p[at + 2])});
    at += 8 + (p[at + 4] | p[at + 5] << 8 | p[at + 6] << 16 | static_cast<size_t>(p[at + 7]) << 24);
  }
  return out;
}

class LossyCapture : public ::testing::Test {
 protected:
  void Start(int32_t w, int32_t h, uint32_t bits, const Rect& rect) {
    mirror_ = std::make_unique<MemoryMirror>(w, h, bits);
    source_ = std::make_unique<ScreenCaptureSource>(mirror_.get());
    ASSERT_TRUE(source_->Prepare(&codec_)) << source_->Error();
    source_->SetRect(rect);
  }
  // The player's decoder, set up from the stream format the recorder writes.
  void StartPlayer() {
    const std::vector<uint8_t> block = BuildVideoFormatBlock(source_->Format());
    ASSERT_GE(block.size(), 88u);
    ASSERT_TRUE(player_.SetFormat(block.data() + 48, block.size() - 48)) << player_.Error();
  }
  bool Frame() { return testing::CaptureAndCode(*source_, codec_); }
  void TearDown() override { source_.reset(); }

  LossyFrameEncoder codec_;
  std::unique_ptr<MemoryMirror> mirror_;
  std::unique_ptr<ScreenCaptureSource> source_;
  ScreenVideoDecoder player_;
};

TEST_F(LossyCapture, ADesktopClipKeepsItsQualityOnEveryFrameAndThePlayerShowsTheDecodersPicture) {
  Start(800, 600, 32, Rect{});  // the whole screen: 3 × 3 tiles
  Desktop desktop(mirror_.get());
  StartPlayer();
  EXPECT_EQ(player_.FrameWidth(), 800);
  LossyTileDecoder bare;
  std::string error;
  ASSERT_TRUE(bare.Init(&error)) << error;
  Plane bare_picture(800, 600, 4);
  double worst = 99;
  for (int n = 0; n < 30; ++n) {
    if (n > 0) desktop.Step(n);
    ASSERT_TRUE(Frame());
    ASSERT_FALSE(codec_.IsKeyFrame()) << "lossy packets are never key frames";
    const uint8_t* p = codec_.PacketData();
    const uint32_t len = codec_.PacketLength();
    ASSERT_TRUE(player_.Decode(p, len)) << player_.Error();
    ASSERT_TRUE(bare.Decode(p, len, bare_picture.data(), 3200, 800, 600));
    const double psnr = Psnr420(mirror_->surface().view(), 0, 0, *player_.Picture(), 800, 600);
    worst = std::min(worst, psnr);
    EXPECT_GT(psnr, 38.0) << "frame " << n;
  }
  std::printf("lowest PSNR over the clip: %.2f dB\n", worst);
  EXPECT_EQ(std::memcmp(player_.Picture()->data, bare_picture.data(), bare_picture.size()), 0);
}

TEST_F(LossyCapture, AChangeInOneTileLeavesEveryOtherTileAsItWas) {
  Start(768, 576, 32, Rect{});  // 3 × 3 tiles of 256 × 192
  Desktop desktop(mirror_.get());
  StartPlayer();
  ASSERT_TRUE(Frame());
  ASSERT_EQ(Chunks(codec_.PacketData(), codec_.PacketLength()).size(), 9u);
  ASSERT_TRUE(player_.Decode(codec_.PacketData(), codec_.PacketLength()));
  const std::vector<uint8_t> before(player_.Picture()->data, player_.Picture()->data + 768 * 576 * 4);
  // A bright block right at the corner of the middle tile (256..512, 192..384).
  for (int y = 192; y < 200; ++y) {
    for (int x = 256; x < 264; ++x) std::memset(mirror_->screen().view().At(x, y), 0xFF, 4);
  }
  mirror_->Draw({256, 192, 264, 200});
  ASSERT_TRUE(Frame());
  const std::vector<Chunk> chunks = Chunks(codec_.PacketData(), codec_.PacketLength());
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].tile, 4u);
  ASSERT_TRUE(player_.Decode(codec_.PacketData(), codec_.PacketLength()));
  const PlaneView& p = *player_.Picture();
  for (int y = 0; y < 576; ++y) {
    for (int x = 0; x < 768; ++x) {
      if (x >= 256 && x < 512 && y >= 192 && y < 384) continue;
      ASSERT_EQ(std::memcmp(p.At(x, y), &before[(static_cast<size_t>(y) * 768 + x) * 4], 4), 0)
          << "pixel " << x << "," << y << " outside the changed tile";
    }
  }
  EXPECT_GT(p.At(258, 194)[1], 200);
}

TEST_F(LossyCapture, ROneTakesOnlyTheChangedRowsOfAChangedTile) {
  Start(256, 192, 32, Rect{});
  ASSERT_TRUE(Frame());  // all black, coded once
  // Row 10 changes and is reported; row 100 of the same tile changes in the
  // surface without being reported.
  for (int x = 0; x < 256; ++x) {
    mirror_->screen().view().At(x, 10)[0] = 200;
    mirror_->screen().view().At(x, 100)[0] = 200;
  }
  mirror_->Draw({0, 10, 256, 11});
  uint8_t* surface_row = const_cast<uint8_t*>(mirror_->surface().view().At(0, 100));
  for (int x = 0; x < 256; ++x) surface_row[x * 4] = 200;
  ASSERT_TRUE(Frame());
  ASSERT_EQ(Chunks(codec_.PacketData(), codec_.PacketLength()).size(), 1u);
  EXPECT_EQ(codec_.R1().At(5, 10)[0], 200);
  EXPECT_EQ(codec_.R1().At(5, 100)[0], 0) << "a row outside the dirty region is not copied";
}

TEST_F(LossyCapture, OddRegionIsRecordedEvenAndAResizeStartsNewTileStreams) {
  Start(1024, 768, 16, Rect{101, 51, 502, 352});  // 401 × 301
  EXPECT_EQ(source_->CaptureRect(), (Rect{101, 51, 503, 353})) << "402 × 302";
  EXPECT_EQ(source_->Format().bitmap.bit_count, 32u) << "the 16-bit screen is converted";
  Desktop desktop(mirror_.get());
  ASSERT_TRUE(Frame());
  std::vector<Chunk> chunks = Chunks(codec_.PacketData(), codec_.PacketLength());
  ASSERT_EQ(chunks.size(), 4u);  // 2 × 2: 256 + 146, 192 + 110
  EXPECT_EQ(codec_.TileEncoders(), 4u);
  // The followed window grew: all new streams, each starting with a key frame.
  source_->SetRect(Rect{101, 51, 701, 451});
  ASSERT_TRUE(Frame());
  chunks = Chunks(codec_.PacketData(), codec_.PacketLength());
  // 600 × 400 has as many tiles (256 + 344 by 192 + 208), of other sizes.
  EXPECT_EQ(codec_.TileEncoders(), 4u);
  ASSERT_EQ(chunks.size(), 4u);
  for (const Chunk& c : chunks) EXPECT_EQ(c.key, 2u) << "tile " << c.tile;
  // At the right edge an odd width grows to the left.
  source_->SetRect(Rect{623, 0, 1024, 301});
  EXPECT_EQ(source_->CaptureRect(), (Rect{622, 0, 1024, 302}));
}

TEST_F(LossyCapture, AMovedRectangleSendsEveryTileAgain) {
  Start(1024, 768, 32, Rect{0, 0, 512, 384});
  Desktop desktop(mirror_.get());
  ASSERT_TRUE(Frame());
  // Move right and back: the pixels at the first place are what R1 holds
  // there, but the player's picture shows the second place by then.
  source_->SetRect(Rect{256, 0, 768, 384});
  ASSERT_TRUE(Frame());
  EXPECT_EQ(Chunks(codec_.PacketData(), codec_.PacketLength()).size(), 4u);
  source_->SetRect(Rect{0, 0, 512, 384});
  ASSERT_TRUE(Frame());
  EXPECT_EQ(Chunks(codec_.PacketData(), codec_.PacketLength()).size(), 4u);
  ASSERT_TRUE(Frame());
  EXPECT_EQ(codec_.PacketLength(), 0u) << "nothing changed since";
}

}  // namespace
}  // namespace kmr
