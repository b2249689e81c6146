#include "tools/kmrtool/mp3_frames.h"

#include <gtest/gtest.h>

#include "shared/container/container_format.h"

namespace kmr {
namespace {

// n frames of MPEG-2 layer III, 22,050 Hz, 32 kbit/s, joint stereo: 104
// bytes each (72 × 32,000 / 22,050), 576 samples.
std::vector<uint8_t> Frames(int n, bool padded_second = false) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) {
    const bool pad = padded_second && i == 1;
    out.insert(out.end(), {0xFF, 0xF3, static_cast<uint8_t>(pad ? 0x42 : 0x40), 0x44});
    out.insert(out.end(), pad ? 101 : 100, static_cast<uint8_t>(i));
  }
  return out;
}

TEST(Mp3Frames, CutsTheFileIntoTimedFrames) {
  Mp3Frames m;
  std::string error;
  ASSERT_TRUE(m.Parse(Frames(4, true), &error)) << error;
  ASSERT_EQ(m.Frames().size(), 4u);
  EXPECT_EQ(m.Frames()[1].size, 105u);  // the padding byte
  EXPECT_EQ(m.Frames()[2].offset, 104u + 105u);
  // 576 samples at 22,050 Hz: 26.12 ms a frame.
  EXPECT_EQ(m.Frames()[1].time_ms, 26u);
  EXPECT_EQ(m.Frames()[3].time_ms, 78u);
  EXPECT_EQ(m.Frames()[0].duration_ms, 26u);
  EXPECT_EQ(m.SampleRate(), 22050u);
  EXPECT_EQ(m.Channels(), 2);
  WaveFormatMp3 w;
  ASSERT_TRUE(WaveFormatMp3::Parse(m.WaveFormat(), &w));
  EXPECT_EQ(w.format_tag, 0x55);
  EXPECT_EQ(w.avg_bytes_per_sec, 4000u);
  EXPECT_EQ(w.block_align, 1);
  EXPECT_EQ(m.Data(m.Frames()[3])[4], 3);
}

TEST(Mp3Frames, SkipsTagsAndRefusesWhatIsNotMp3) {
  Mp3Frames m;
  std::string error;
  std::vector<uint8_t> tagged = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 5, 1, 2, 3, 4, 5};
  const std::vector<uint8_t> frames = Frames(2);
  tagged.insert(tagged.end(), frames.begin(), frames.end());
  ASSERT_TRUE(m.Parse(tagged, &error)) << error;
  EXPECT_EQ(m.Frames().size(), 2u);
  EXPECT_EQ(m.Frames()[0].offset, 15u);

  std::vector<uint8_t> cut = Frames(3);
  cut.resize(cut.size() - 10);
  ASSERT_TRUE(m.Parse(cut, &error));
  EXPECT_EQ(m.Frames().size(), 2u) << "a cut-off last frame is left out";

  std::vector<uint8_t> damaged = Frames(3);
  damaged[104] = 0x00;
  EXPECT_FALSE(m.Parse(damaged, &error));
  EXPECT_NE(error.find("byte 104"), std::string::npos) << error;

  std::vector<uint8_t> mixed = Frames(1);
  mixed.insert(mixed.end(), {0xFF, 0xFB, 0x90, 0x44});  // MPEG-1 at 44.1 kHz
  mixed.resize(mixed.size() + 413);
  EXPECT_FALSE(m.Parse(mixed, &error));
  EXPECT_FALSE(m.Parse({}, &error));
  EXPECT_FALSE(m.Parse({'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, &error));
}

}  // namespace
}  // namespace kmr
