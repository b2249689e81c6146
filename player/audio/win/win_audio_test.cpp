// The Windows sound path of the player under wine64: the system's MP3 codec
// decodes a tone the recorder's encoder made, the wave output plays blocks
// and takes them back, and the sound decoder thread runs over both.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "player/audio/audio_decoder.h"
#include "player/audio/win/acm_decoder.h"
#include "player/audio/win/wave_output.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

// 1.1 s of a 440 Hz tone, 22050 Hz stereo at 64 kbit/s, as the recorder's
// encoder writes it (eight blocks of five chunks), and its wave format.
std::vector<uint8_t> ToneMp3() {
  std::vector<uint8_t> data;
  std::FILE* f = std::fopen(TONE_MP3, "rb");
  if (f == nullptr) return data;
  unsigned char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  return data;
}
const std::vector<uint8_t> kToneFormat = {85, 0, 2, 0, 34, 86, 0, 0, 64, 31, 0, 0, 1,   0, 0,
                                          0,  12, 0, 1, 0,  2,  0, 0, 0, 176, 154, 5, 0, 0, 0};

TEST(AcmMp3Decoder, DecodesTheRecordersMp3) {
  const std::vector<uint8_t> mp3 = ToneMp3();
  ASSERT_GT(mp3.size(), 1000u) << TONE_MP3;
  AcmMp3Decoder decoder;
  ASSERT_TRUE(decoder.Open(22050, 2, kToneFormat)) << "no MP3 codec in the audio compression manager";
  std::vector<int16_t> left(110250), right(110250), all;
  for (size_t at = 0; at < mp3.size(); at += 1000) {
    const uint32_t size = static_cast<uint32_t>(std::min<size_t>(1000, mp3.size() - at));
    int n = decoder.Decode(mp3.data() + at, size, left.data(), right.data(), 2000);
    while (n > 0) {
      all.insert(all.end(), left.begin(), left.begin() + n);
      EXPECT_EQ(left[0], right[0]) << "both sides carry the same tone";
      n = decoder.Decode(nullptr, 0, left.data(), right.data(), 2000);
    }
    ASSERT_GE(n, 0);
  }
  // Most of the 8 × 2880 samples per side (the codec keeps a frame or two).
  EXPECT_GT(all.size(), 18000u);
  EXPECT_LE(all.size(), 23040u + 1152u);
  size_t crossings = 0, from = all.size() / 4, to = all.size() * 3 / 4;
  for (size_t i = from + 1; i < to; ++i) crossings += (all[i - 1] < 0) != (all[i] < 0);
  EXPECT_NEAR(crossings / 2.0 / ((to - from) / 22050.0), 440.0, 10.0);
  EXPECT_LT(decoder.Decode(nullptr, 0, left.data(), right.data(), 0), 0) << "no room is an error";
}

TEST(WaveOutput, PlaysBlocksAndTakesThemBack) {
  WaveOutput out;
  ASSERT_TRUE(out.Open(22050, 2)) << out.Error();
  std::vector<int16_t> silence(2205 * 2, 0);  // 100 ms
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(out.Write(silence.data(), 2205));
  EXPECT_EQ(out.Queued(), 3u);
  // Played blocks come back at the next write.
  size_t written = 3;
  EXPECT_TRUE(testing::WaitUntil([&] {
    out.Write(silence.data(), 1);
    ++written;
    return out.Queued() < written;
  })) << "no block was ever played";
  out.Pause();
  out.Restart();
  out.Reset();
  ASSERT_TRUE(out.Write(silence.data(), 10));
  EXPECT_LE(out.Queued(), 1u) << "a reset marks everything played";
  out.Close();
  EXPECT_FALSE(out.IsOpen());
  EXPECT_FALSE(out.Write(silence.data(), 10));
}

TEST(WindowsAudioDecoder, DecodesAndPlaysPackets) {
  AcmMp3Decoder mp3;
  WaveOutput out;
  AudioDecoder decoder(&mp3, &out, platform::SystemMsClock(), platform::CreateFrameTimer());
  StreamHeader h;
  h.major_type = kMediaTypeAudio;
  h.subtype = kSubtypeMp3;
  h.format_type = kFormatWaveFormatEx;
  ASSERT_TRUE(decoder.Accept(h));
  ASSERT_TRUE(decoder.Configure(h, kToneFormat));
  decoder.ResetClock(platform::SystemMsClock()->NowMs());
  ASSERT_TRUE(decoder.Start()) << decoder.Failure();
  const std::vector<uint8_t> data = ToneMp3();
  PlayerPacket p;
  p.data.assign(data.begin(), data.begin() + data.size() / 2);
  EXPECT_TRUE(decoder.Present(&p)) << decoder.Failure();
  EXPECT_GT(out.Queued(), 0u);
  decoder.Stop();
}

}  // namespace
}  // namespace kmr
