// The player's side of the lossy codec with the real xvidcore: the stream
// formats it takes, damaged packets refused before anything is drawn, and a
// tile stream of another size never written outside its tile.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "player/codecs/lossy/lossy_frame_decoder.h"
#include "player/codecs/lossy/lossy_tile_decoder.h"
#include "player/codecs/screen_video_decoder.h"
#include "recorder/codecs/lossy/lossy_tile_encoder.h"
#include "shared/byte_io.h"
#include "shared/container/container_format.h"

namespace kmr {
namespace {

std::vector<uint8_t> Format(int32_t w, int32_t h, uint16_t bits, uint32_t compression = kFourCcLossy) {
  BitmapInfoHeader b;
  b.width = w;
  b.height = -h;
  b.bit_count = bits;
  b.compression = compression;
  std::vector<uint8_t> out;
  ByteWriter writer(&out);
  b.Write(writer);
  return out;
}

// A picture's tiles coded from a smooth pattern.
std::vector<uint8_t> CodedPacket(int32_t w, int32_t h, int phase, LossyTileEncoder* encoder) {
  std::vector<uint8_t> c(static_cast<size_t>(w) * h * 4), r1(c.size(), 0);
  for (size_t i = 0; i < c.size(); ++i) c[i] = static_cast<uint8_t>((i / 4 % static_cast<size_t>(w)) + phase + i % 4 * 50);
  std::vector<uint8_t> packet;
  const Rect area{0, 0, w, h};
  EXPECT_TRUE(encoder->EncodeChangedTiles(FrameView{c.data(), w * 4}, FrameView{r1.data(), w * 4}, area, {area}, 10,
                                          &packet, true));
  return packet;
}

TEST(LossyPlayer, TakesOnly32BitFramesWithEvenSides) {
  ScreenVideoDecoder d;
  std::vector<uint8_t> f = Format(640, 480, 32);
  ASSERT_TRUE(d.SetFormat(f.data(), f.size())) << d.Error();
  EXPECT_EQ(d.Compression(), kFourCcLossy);
  EXPECT_EQ(d.Picture()->bytes_per_pixel, 4u);
  f = Format(641, 480, 32);
  EXPECT_FALSE(d.SetFormat(f.data(), f.size()));
  EXPECT_NE(d.Error().find("even sides"), std::string::npos) << d.Error();
  f = Format(640, 480, 16);
  EXPECT_FALSE(d.SetFormat(f.data(), f.size()));
  EXPECT_EQ(d.Error(), "lossy screen video must have 32-bit frames");
  f = Format(640, 480, 32, FourCc('X', 'V', 'I', 'D'));
  EXPECT_FALSE(d.SetFormat(f.data(), f.size()));
  EXPECT_EQ(d.Error(), "not a screen video format");
}

TEST(LossyPlayer, DamagedPacketsAreRefusedWithAReasonAndLeaveThePictureAlone) {
  LossyTileEncoder encoder;
  std::string error;
  ASSERT_TRUE(encoder.Init(&error)) << error;
  ScreenVideoDecoder d;
  const std::vector<uint8_t> f = Format(512, 192, 32);  // two tiles
  ASSERT_TRUE(d.SetFormat(f.data(), f.size())) << d.Error();
  const std::vector<uint8_t> good = CodedPacket(512, 192, 0, &encoder);
  ASSERT_TRUE(d.Decode(good.data(), good.size())) << d.Error();
  const std::vector<uint8_t> picture(d.Picture()->data, d.Picture()->data + 512 * 192 * 4);
  const std::vector<uint8_t> before(d.DisplayCopy(), d.DisplayCopy() + d.DisplayCopyPitch() * 192);

  // A good next frame followed by a chunk for tile 2 of a 2-tile grid.
  std::vector<uint8_t> outside = CodedPacket(512, 192, 40, &encoder);
  outside.insert(outside.end(), {2, 0, 0, 0, 1, 0, 0, 0, 0});
  EXPECT_FALSE(d.Decode(outside.data(), outside.size()));
  EXPECT_EQ(d.Error(), "tile 2 is outside the 2-tile grid");
  // A chunk that says it is longer than what is left.
  std::vector<uint8_t> too_long = CodedPacket(512, 192, 80, &encoder);
  too_long.insert(too_long.end(), {1, 0, 0, 0, 200, 0, 0, 0, 1, 2, 3});
  EXPECT_FALSE(d.Decode(too_long.data(), too_long.size()));
  EXPECT_EQ(d.Error(), "tile 1's data runs past the end of the packet");
  std::vector<uint8_t> torn = {0, 0, 0};
  EXPECT_FALSE(d.Decode(torn.data(), torn.size()));
  EXPECT_EQ(d.Error(), "the packet ends inside a tile's header");
  EXPECT_EQ(std::memcmp(d.Picture()->data, picture.data(), picture.size()), 0) << "P untouched";
  EXPECT_EQ(std::memcmp(d.DisplayCopy(), before.data(), before.size()), 0) << "the display's copy untouched";
  EXPECT_TRUE(d.Decode(nullptr, 0)) << "an empty packet: nothing changed";
}

TEST(LossyPlayer, ATileStreamOfAnotherSizeNeverWritesOutsideItsTile) {
  // A 128 × 96 stream handed to the decoder of a 256 × 192 picture's only
  // tile, and the other way round; rows around the picture are guards.
  for (const auto& [coded, shown] : {std::pair{128, 256}, std::pair{256, 128}}) {
    LossyTileEncoder encoder;
    std::string error;
    ASSERT_TRUE(encoder.Init(&error)) << error;
    const std::vector<uint8_t> packet = CodedPacket(coded, coded * 3 / 4, 0, &encoder);
    const int32_t w = shown, h = shown * 3 / 4, stride = w * 4;
    std::vector<uint8_t> buffer(static_cast<size_t>(stride) * (h + 64), 0xA5);
    uint8_t* picture = buffer.data() + static_cast<size_t>(stride) * 32;
    std::memset(picture, 0, static_cast<size_t>(stride) * h);
    LossyTileDecoder decoder;
    ASSERT_TRUE(decoder.Init(&error)) << error;
    decoder.Decode(packet.data(), packet.size(), picture, stride, w, h);
    for (size_t i = 0; i < static_cast<size_t>(stride) * 32; ++i) {
      ASSERT_EQ(buffer[i], 0xA5) << "above the picture, byte " << i;
      ASSERT_EQ(buffer[buffer.size() - 1 - i], 0xA5) << "below the picture, byte " << i;
    }
  }
}

TEST(LossyPlayer, TheFirstPacketMakesTheTileDecodersAndTheDisplayCopyFollowsEachTile) {
  LossyTileEncoder encoder;
  std::string error;
  ASSERT_TRUE(encoder.Init(&error)) << error;
  ScreenVideoDecoder d;
  d.SetDisplayFormat(PixelFormat{16, false});  // a 5-6-5 display
  const std::vector<uint8_t> f = Format(512, 384, 32);
  ASSERT_TRUE(d.SetFormat(f.data(), f.size())) << d.Error();
  ASSERT_TRUE(d.HasDisplayCopy());
  const std::vector<uint8_t> packet = CodedPacket(512, 384, 7, &encoder);
  ASSERT_TRUE(d.Decode(packet.data(), packet.size())) << d.Error();
  // Every tile reached the display's copy: compare a pixel of each.
  for (const auto& [x, y] : {std::pair{10, 10}, std::pair{300, 10}, std::pair{10, 300}, std::pair{500, 380}}) {
    const uint8_t* p = d.Picture()->At(x, y);
    const uint16_t expected = static_cast<uint16_t>((p[2] >> 3) << 11 | (p[1] >> 2) << 5 | p[0] >> 3);
    const uint8_t* m = d.DisplayCopy() + static_cast<size_t>(y) * d.DisplayCopyPitch() + x * 2;
    EXPECT_EQ(static_cast<uint16_t>(m[0] | m[1] << 8), expected) << x << "," << y;
    EXPECT_NE(expected, 0) << "the tile was drawn";
  }
}

}  // namespace
}  // namespace kmr
