#include "recorder/codecs/module/kmrv_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace kmr {
namespace {

BitmapInfoHeader Input(int32_t w, int32_t h) {
  BitmapInfoHeader b;
  b.width = w;
  b.height = h;
  b.bit_count = 32;
  b.compression = kBiRgb;
  b.size_image = DibStride(static_cast<uint32_t>(w), 32) * static_cast<uint32_t>(h < 0 ? -h : h);
  return b;
}

// Frames of a 40 × 30 bottom-up picture with a block that moves and
// changes colour; frame 3 repeats frame 2.
std::vector<std::vector<uint8_t>> Frames(bool smooth = false) {
  std::mt19937 rng(5);
  std::vector<uint8_t> f(40 * 30 * 4);
  for (size_t i = 0; i < f.size(); ++i) {
    const size_t px = i / 4, x = px % 40, y = px / 40;
    f[i] = smooth ? static_cast<uint8_t>(i % 4 == 0 ? x * 5 : i % 4 == 1 ? y * 7 : i % 4 == 2 ? (x + y) * 3 : 0)
                  : static_cast<uint8_t>(rng());
  }
  std::vector<std::vector<uint8_t>> out;
  for (int i = 0; i < 6; ++i) {
    if (i != 3) {
      for (int y = 5; y < 12; ++y) {
        for (int x = i * 4; x < i * 4 + 9; ++x) {
          uint8_t* p = &f[(static_cast<size_t>(y) * 40 + x) * 4];
          p[0] = static_cast<uint8_t>(i * 40);
          p[1] = static_cast<uint8_t>(255 - i);
          p[2] = static_cast<uint8_t>(i);
        }
      }
    }
    out.push_back(f);
  }
  return out;
}

TEST(KmrvCodec, FramesComeBackBitForBitThroughTheCompressorCalls) {
  const BitmapInfoHeader in = Input(40, 30);
  KmrvCodec compressor, decompressor;
  ASSERT_TRUE(compressor.AcceptsInput(in));
  const BitmapInfoHeader coded = compressor.CompressedFormat(in);
  EXPECT_EQ(coded.compression, kFourCcLossless);
  EXPECT_EQ(coded.height, 30);
  std::string error;
  ASSERT_TRUE(compressor.BeginCompress(in, &error)) << error;
  ASSERT_TRUE(decompressor.BeginDecompress(coded, KmrvCodec::DecompressedFormat(coded))) << decompressor.Error();
  std::vector<uint8_t> packet(KmrvCodec::MaxCompressedSize(in)), picture(in.size_image);
  const auto frames = Frames();
  for (size_t i = 0; i < frames.size(); ++i) {
    uint32_t size = 0;
    bool key = false;
    ASSERT_TRUE(compressor.Compress(frames[i].data(), i == 4, packet.data(), static_cast<uint32_t>(packet.size()),
                                    &size, &key));
    EXPECT_EQ(key, i == 0 || i == 4) << i;
    if (i == 3) {
      EXPECT_EQ(size, 0u) << "nothing changed";
    }
    ASSERT_TRUE(decompressor.Decompress(packet.data(), size, picture.data(), static_cast<uint32_t>(picture.size())))
        << decompressor.Error();
    EXPECT_TRUE(picture == frames[i]) << "frame " << i;
  }
  // A key frame decodes on its own.
  KmrvCodec fresh;
  ASSERT_TRUE(fresh.BeginDecompress(coded, KmrvCodec::DecompressedFormat(coded)));
  uint32_t size = 0;
  bool key = false;
  ASSERT_TRUE(compressor.Compress(frames[5].data(), true, packet.data(), static_cast<uint32_t>(packet.size()), &size,
                                  &key));
  ASSERT_TRUE(fresh.Decompress(packet.data(), size, picture.data(), static_cast<uint32_t>(picture.size())));
  EXPECT_TRUE(picture == frames[5]);
}

TEST(KmrvCodec, RefusesWhatItCannotCodeAndDamagedFrames) {
  BitmapInfoHeader in = Input(40, 30);
  in.bit_count = 24;
  KmrvCodec d;
  EXPECT_FALSE(d.AcceptsInput(in));
  EXPECT_FALSE(d.AcceptsInput(Input(0, 30)));
  EXPECT_FALSE(d.AcceptsInput(Input(20000, 30)));
  BitmapInfoHeader coded = d.CompressedFormat(Input(40, 30));
  coded.compression = kFourCcLossy;
  EXPECT_FALSE(d.AcceptsCompressed(coded));
  coded = d.CompressedFormat(Input(40, 30));
  BitmapInfoHeader wrong = KmrvCodec::DecompressedFormat(coded);
  wrong.width = 41;
  EXPECT_FALSE(d.BeginDecompress(coded, wrong));
  ASSERT_TRUE(d.BeginDecompress(coded, KmrvCodec::DecompressedFormat(coded)));
  std::vector<uint8_t> picture(40 * 30 * 4);
  std::mt19937 rng(9);
  for (int i = 0; i < 200; ++i) {
    std::vector<uint8_t> junk(1 + rng() % 300);
    for (auto& b : junk) b = static_cast<uint8_t>(rng());
    d.Decompress(junk.data(), static_cast<uint32_t>(junk.size()), picture.data(),
                 static_cast<uint32_t>(picture.size()));  // refused or not, never out of bounds
  }
  const uint8_t short_packet[1] = {0xFF};
  EXPECT_FALSE(d.Decompress(short_packet, 1, picture.data(), static_cast<uint32_t>(picture.size())));
  EXPECT_FALSE(d.Error().empty());
  EXPECT_FALSE(d.Decompress(short_packet, 1, picture.data(), 10)) << "an output too small for the picture";
}

// The lossy codec where xvidcore is: the player's decoder sees what the
// module's decompression gives, and odd sizes are refused.
TEST(KmrvCodec, TheLossyCodecWhereItsLibraryIs) {
  std::string why;
  if (!KmrvCodec::Available(kFourCcLossy, &why)) GTEST_SKIP() << why;
  EXPECT_FALSE(KmrvCodec::Available(FourCc('X', 'V', 'I', 'D'), &why));
  KmrvCodec compressor(kFourCcLossy), decompressor(kFourCcLossy);
  EXPECT_FALSE(compressor.AcceptsInput(Input(41, 30)));
  const BitmapInfoHeader in = Input(40, 30);
  const BitmapInfoHeader coded = compressor.CompressedFormat(in);
  EXPECT_EQ(coded.compression, kFourCcLossy);
  KmrvCodec lossless;
  EXPECT_FALSE(lossless.AcceptsCompressed(coded));
  std::string error;
  ASSERT_TRUE(compressor.BeginCompress(in, &error)) << error;
  ASSERT_TRUE(decompressor.BeginDecompress(coded, KmrvCodec::DecompressedFormat(coded))) << decompressor.Error();
  std::vector<uint8_t> packet(KmrvCodec::MaxCompressedSize(in)), picture(in.size_image);
  const auto frames = Frames(true);
  for (size_t i = 0; i < frames.size(); ++i) {
    uint32_t size = 0;
    bool key = false;
    ASSERT_TRUE(compressor.Compress(frames[i].data(), false, packet.data(), static_cast<uint32_t>(packet.size()),
                                    &size, &key));
    ASSERT_TRUE(decompressor.Decompress(packet.data(), size, picture.data(), static_cast<uint32_t>(picture.size())))
        << decompressor.Error();
  }
  // Close to the last frame (MPEG-4 at a fixed quantiser, colour shared by
  // 2 × 2 pixels): a few steps off on the average; a picture upside down or
  // of another frame is off by tens.
  double off = 0;
  for (size_t i = 0; i < picture.size(); ++i) {
    if (i % 4 != 3) off += std::abs(picture[i] - frames.back()[i]);
  }
  EXPECT_LT(off / (40 * 30 * 3), 12.0) << "the picture is not the frame's";
}

}  // namespace
}  // namespace kmr
