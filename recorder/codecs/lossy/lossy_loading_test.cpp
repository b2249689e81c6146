// The lossy codec through a stand-in xvidcore loaded by name (a DLL under
// wine64, a shared library on Linux): the library is started with the
// codec's version, each tile gets an encoder of its size with the codec's
// parameters, and the tiles are read and written in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/library/library.h"
#include "player/codecs/lossy/lossy_tile_decoder.h"
#include "recorder/codecs/lossy/lossy_tile_encoder.h"
#include "player/codecs/screen_video_decoder.h"
#include "recorder/codecs/lossy/lossy_frame_encoder.h"
#include "recorder/codecs/own_codecs.h"
#include "shared/byte_io.h"
#include "shared/container/container_format.h"

namespace kmr {
namespace {

TEST(LossyLoading, TilesAreCodedInPlaceThroughALoadedLibrary) {
  XvidApi api;
  std::string error;
  ASSERT_TRUE(LoadXvidLibrary(RECORDING_XVID, &api, &error)) << error;
  EXPECT_FALSE(LoadXvidLibrary("no-such-xvidcore-library", &api, &error));
  EXPECT_NE(error.find("no-such-xvidcore-library"), std::string::npos) << error;
  platform::DynamicLibrary probe;
  ASSERT_TRUE(probe.Open(RECORDING_XVID)) << probe.Error();
  auto calls = reinterpret_cast<const char* (*)()>(probe.Symbol("kmrTestXvidCalls"));
  auto plane = reinterpret_cast<const void* (*)(int)>(probe.Symbol("kmrTestXvidPlane"));
  ASSERT_NE(calls, nullptr);
  EXPECT_EQ(std::string(calls()).rfind("init 65794;", 0), 0u) << "version 0x010102: " << calls();

  // A 400 × 300 area at (16, 8) of a 544 × 400 screen: tiles 256 × 192,
  // 144 × 192 (400 mod 256 = 144 ≥ 128), 256 × 108 and 144 × 108
  // (300 mod 192 = 108 ≥ 96).
  const int32_t stride = 544 * 4;
  std::vector<uint8_t> c(static_cast<size_t>(stride) * 400, 0), r1(c.size(), 0);
  for (size_t i = 0; i < c.size(); i += 4) c[i] = 1;  // every pixel differs from R1
  LossyTileEncoder encoder;
  encoder.UseLibrary(&api);
  std::vector<uint8_t> packet;
  const Rect area{16, 8, 416, 308};
  ASSERT_TRUE(encoder.EncodeChangedTiles(FrameView{c.data(), stride}, FrameView{r1.data(), stride}, area, {area}, 25,
                                         &packet));
  const std::string log = calls();
  for (const char* create : {"create 256x192 profile 145 fps 25 key 1500 b 0;", "create 144x192 profile 145",
                             "create 256x108 profile 145", "create 144x108 profile 145"}) {
    EXPECT_NE(log.find(create), std::string::npos) << create << "\n" << log;
  }
  EXPECT_NE(log.find("csp 64 stride 2176 quant 4 vol 1;"), std::string::npos) << log;
  // The planes are C itself at each tile's top-left pixel.
  const uint8_t* base = c.data();
  EXPECT_EQ(plane(0), base + 8 * stride + 16 * 4);
  EXPECT_EQ(plane(1), base + 8 * stride + (16 + 256) * 4);
  EXPECT_EQ(plane(2), base + (8 + 192) * stride + 16 * 4);
  EXPECT_EQ(plane(3), base + (8 + 192) * stride + (16 + 256) * 4);
  ASSERT_EQ(packet.size(), 4u * 13);
  EXPECT_EQ(packet[2], 2) << "the first frame is a key frame";
  EXPECT_EQ(packet[4], 5);
  EXPECT_EQ(std::string(packet.begin() + 8, packet.begin() + 13), "tile!");

  // The decoder writes straight into the picture at each tile's place.
  std::vector<uint8_t> picture(400 * 300 * 4);
  LossyTileDecoder decoder;
  decoder.UseLibrary(&api);
  ASSERT_TRUE(decoder.Decode(packet.data(), packet.size(), picture.data(), 400 * 4, 400, 300));
  const std::string dlog = calls();
  EXPECT_NE(dlog.find("dcreate 144x108;"), std::string::npos) << dlog;
  EXPECT_NE(dlog.find("csp 64 stride 1600 bytes 5;"), std::string::npos) << dlog;
  EXPECT_EQ(plane(4), picture.data());
  EXPECT_EQ(plane(5), picture.data() + 256 * 4);
  EXPECT_EQ(plane(6), picture.data() + 192 * 400 * 4);
  EXPECT_EQ(plane(7), picture.data() + (192 * 400 + 256) * 4);
}

// Whether this machine has the codec's library: Linux links it; the Windows
// programs look for xvidcore.dll, which no Windows here has. Without it the
// codec is not offered, a recording with it cannot start and a lossy
// recording cannot be played, each saying what is missing.
TEST(LossyLoading, TheCodecIsOfferedOnlyWithItsLibrary) {
  std::string why;
  LossyFrameEncoder encoder;
  ScreenVideoDecoder player;
  BitmapInfoHeader b;
  b.width = 64;
  b.height = -48;
  b.bit_count = 32;
  b.compression = kFourCcLossy;
  std::vector<uint8_t> format;
  ByteWriter w(&format);
  b.Write(w);
#ifdef _WIN32
  EXPECT_FALSE(LossyCodecAvailable(&why));
  EXPECT_NE(why.find("xvidcore.dll"), std::string::npos) << why;
  why.clear();
  EXPECT_FALSE(encoder.Start(64, 48, 4, &why));
  EXPECT_NE(why.find("xvidcore.dll"), std::string::npos) << why;
  EXPECT_FALSE(player.SetFormat(format.data(), format.size()));
  EXPECT_EQ(player.Error().rfind("lossy screen video cannot be played here: the lossy codec needs xvidcore.dll", 0), 0u)
      << player.Error();
#else
  EXPECT_TRUE(LossyCodecAvailable(&why)) << why;
  EXPECT_TRUE(encoder.Start(64, 48, 4, &why)) << why;
  EXPECT_TRUE(player.SetFormat(format.data(), format.size())) << player.Error();
#endif
  const OwnCodec* lossy = FindOwnCodec("lossy");
  ASSERT_NE(lossy, nullptr);
  EXPECT_STREQ(lossy->name, "Norvane Screen Video (Lossy)");
  EXPECT_EQ(lossy->available(&why), LossyCodecAvailable(&why));
}

}  // namespace
}  // namespace kmr
