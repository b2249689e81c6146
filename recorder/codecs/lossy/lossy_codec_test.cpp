// The lossy codec's tile grid and a round trip through xvidcore: only
// changed tiles are coded, new streams start with key frames, the decoded
// picture is close to the original, and damaged packets are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "player/codecs/lossy/lossy_tile_decoder.h"
#include "recorder/codecs/lossy/lossy_tile_encoder.h"
#include "shared/codec/tile_grid.h"

namespace kmr {
namespace {

TEST(TileGrid, FollowsTheRuleOnBothAxes) {
  const TileGrid a(1024, 768);
  EXPECT_EQ(a.Columns(), 4);
  EXPECT_EQ(a.Rows(), 4);
  EXPECT_EQ(a.Tile(5), (Rect{256, 192, 512, 384}));
  const TileGrid b(1280, 1024);
  EXPECT_EQ(b.Columns(), 5);
  EXPECT_EQ(b.Rows(), 5);
  EXPECT_EQ(b.Tile(24), (Rect{1024, 768, 1280, 1024})) << "the last row is 256 high (64 < 96)";
  const TileGrid c(400, 100);
  EXPECT_EQ(c.Columns(), 2);
  EXPECT_EQ(c.Tile(1), (Rect{256, 0, 400, 100}));
  const TileGrid d(300, 191);
  EXPECT_EQ(d.Columns(), 1);
  EXPECT_EQ(d.Rows(), 1);
  EXPECT_EQ(d.Tile(0), (Rect{0, 0, 300, 191}));
  const TileGrid e(383, 287);  // 127 and 95: below half a tile
  EXPECT_EQ(e.Columns(), 1);
  EXPECT_EQ(e.Rows(), 1);
  EXPECT_EQ(TileGrid(384, 288).Columns(), 2);
  EXPECT_EQ(TileGrid(384, 288).Rows(), 2);
  EXPECT_EQ(a.Tile(16), Rect{}) << "outside the grid";
}

struct Picture {
  int32_t w, h;
  std::vector<uint8_t> px;
  Picture(int32_t width, int32_t height) : w(width), h(height), px(static_cast<size_t>(width) * height * 4, 0) {}
  FrameView View() { return FrameView{px.data(), w * 4}; }
  uint8_t* At(int x, int y) { return &px[(static_cast<size_t>(y) * w + x) * 4]; }
};

// Smooth colours, as a desktop's pictures mostly are.
void Paint(Picture* p, int phase) {
  for (int y = 0; y < p->h; ++y) {
    for (int x = 0; x < p->w; ++x) {
      uint8_t* q = p->At(x, y);
      q[0] = static_cast<uint8_t>(128 + 100 * std::sin((x + phase) / 40.0));
      q[1] = static_cast<uint8_t>(128 + 100 * std::cos(y / 30.0));
      q[2] = static_cast<uint8_t>((x + y + phase) / 4);
      q[3] = 0;
    }
  }
}

double Psnr(Picture& a, Picture& b, const Rect& r) {
  double se = 0;
  size_t n = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      for (int k = 0; k < 3; ++k) {
        const double d = a.At(x, y)[k] - b.At(x, y)[k];
        se += d * d;
        ++n;
      }
    }
  }
  return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (se / n));
}

struct Chunk {
  uint32_t tile, key, length;
};
std::vector<Chunk> Chunks(const std::vector<uint8_t>& p) {
  std::vector<Chunk> out;
  for (size_t at = 0; at + 8 <= p.size();) {
    Chunk c{static_cast<uint32_t>(p[at] | p[at + 1] << 8), static_cast<uint32_t>(p[at + 2] | p[at + 3] << 8),
            static_cast<uint32_t>(p[at + 4] | p[at + 5] << 8 | p[at + 6] << 16 | p[at + 7] << 24)};
    out.push_back(c);
    at += 8 + c.length;
  }
  return out;
}

TEST(LossyCodec, OnlyChangedTilesAreCodedAndDecodeCloseToTheOriginal) {
  LossyTileEncoder encoder;
  LossyTileDecoder decoder;
  std::string error;
  ASSERT_TRUE(encoder.Init(&error)) << error;
  ASSERT_TRUE(decoder.Init(&error)) << error;
  // A 512 × 384 area at (16, 8) of a 544 × 400 screen: 2 × 2 tiles.
  Picture c(544, 400), r1(544, 400), out(512, 384);
  const Rect area{16, 8, 528, 392};
  Paint(&c, 0);
  std::vector<uint8_t> packet;
  ASSERT_TRUE(encoder.EncodeChangedTiles(c.View(), r1.View(), area, {area}, 15, &packet));
  std::vector<Chunk> chunks = Chunks(packet);
  ASSERT_EQ(chunks.size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(chunks[i].tile, i);
    EXPECT_EQ(chunks[i].key, 2u) << "a new stream starts with a key frame";
  }
  std::vector<Rect> done;
  ASSERT_TRUE(decoder.Decode(packet.data(), packet.size(), out.px.data(), out.w * 4, out.w, out.h, [&](const Rect& t) {
    done.push_back(t);
    return true;
  }));
  EXPECT_EQ(done.size(), 4u);
  Picture original(512, 384);
  for (int y = 0; y < 384; ++y) std::memcpy(original.At(0, y), c.At(16, y + 8), 512 * 4);
  EXPECT_GT(Psnr(original, out, Rect{0, 0, 512, 384}), 30.0);
  EXPECT_EQ(std::memcmp(r1.At(16, 8), c.At(16, 8), 512 * 4), 0) << "R1 holds the coded picture";

  // Nothing changed: an empty packet, even where the dirty region says so.
  packet.clear();
  ASSERT_TRUE(encoder.EncodeChangedTiles(c.View(), r1.View(), area, {area}, 15, &packet));
  EXPECT_TRUE(packet.empty());

  // One tile's pixels change (tile 3: bottom right).
  for (int y = 300; y < 340; ++y) {
    for (int x = 400; x < 460; ++x) c.At(x, y)[2] = 255;
  }
  packet.clear();
  ASSERT_TRUE(encoder.EncodeChangedTiles(c.View(), r1.View(), area, {Rect{380, 280, 480, 350}}, 15, &packet));
  chunks = Chunks(packet);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].tile, 3u);
  EXPECT_EQ(chunks[0].key, 0u);
  ASSERT_TRUE(decoder.Decode(packet.data(), packet.size(), out.px.data(), out.w * 4, out.w, out.h));
  EXPECT_GT(out.At(420 - 16, 320 - 8)[2], 200) << "the change shows";

  // A new size starts new streams.
  encoder.Reset();
  EXPECT_EQ(encoder.TileEncoders(), 0u);
  packet.clear();
  ASSERT_TRUE(encoder.EncodeChangedTiles(c.View(), r1.View(), Rect{0, 0, 256, 192}, {Rect{0, 0, 544, 400}}, 15,
                                         &packet));
  chunks = Chunks(packet);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0].key, 2u);
}

TEST(LossyCodec, DamagedPacketsAreRefused) {
  LossyTileDecoder decoder;
  std::string error;
  ASSERT_TRUE(decoder.Init(&error)) << error;
  Picture out(256, 192);
  const std::vector<uint8_t> outside = {5, 0, 2, 0, 1, 0, 0, 0, 0};  // tile 5 of a 1-tile grid
  EXPECT_FALSE(decoder.Decode(outside.data(), outside.size(), out.px.data(), out.w * 4, out.w, out.h));
  const std::vector<uint8_t> long_chunk = {0, 0, 2, 0, 0xFF, 0xFF, 0, 0, 1, 2, 3};
  EXPECT_FALSE(decoder.Decode(long_chunk.data(), long_chunk.size(), out.px.data(), out.w * 4, out.w, out.h));
  const std::vector<uint8_t> short_header = {0, 0, 2};
  EXPECT_FALSE(decoder.Decode(short_header.data(), short_header.size(), out.px.data(), out.w * 4, out.w, out.h));
  // Garbage inside a well-formed chunk: decoded as whatever it gives, no crash.
  std::vector<uint8_t> garbage = {0, 0, 2, 0, 64, 0, 0, 0};
  for (int i = 0; i < 64; ++i) garbage.push_back(static_cast<uint8_t>(i * 37));
  EXPECT_TRUE(decoder.Decode(garbage.data(), garbage.size(), out.px.data(), out.w * 4, out.w, out.h));
  EXPECT_TRUE(decoder.Decode(nullptr, 0, out.px.data(), out.w * 4, out.w, out.h)) << "an empty packet";
}

}  // namespace
}  // namespace kmr
