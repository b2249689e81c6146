// The deep check ("kmrtool check") and the raw export refuse every recording
// the player cannot play, and never turn hostile sizes or times into huge
// allocations or endless output.
#include <gtest/gtest.h>

#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "player/container_file.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "shared/testing/temp_dir.h"
#include "tools/kmrtool/offline_source.h"
#include "tools/kmrtool/raw_export.h"
#include "tools/kmrtool/testing/small_recording.h"

namespace kmr {
namespace {

// Offsets in a stand-alone recording with one video stream (S = 0).
constexpr size_t kFormat = 2 + 72;
constexpr size_t kTimePerFrame = kFormat + 40;
constexpr size_t kWidth = kFormat + 48 + 4;
constexpr size_t kHeight = kFormat + 48 + 8;
constexpr size_t kBitCount = kFormat + 48 + 14;
constexpr size_t kFirstPacket = kFormat + 88;

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("clip.kmr");
    testing::WriteSmallRecording(path_, 4);
    good_ = testing::ReadAll(path_);
  }

  // The deep check's verdict on the bytes: empty when they play.
  std::string Verdict(const std::vector<uint8_t>& bytes) {
    testing::WriteAll(path_, bytes);
    ContainerFile file;
    if (!file.OpenPath(path_)) return file.Error();
    std::string problem;
    if (CheckPlayable(&file, &problem)) return "";
    return problem.empty() ? "refused without a reason" : problem;
  }
  std::vector<uint8_t> With(size_t at, uint32_t value, int bytes = 4) {
    std::vector<uint8_t> b = good_;
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
  }

  testing::TempDir dir_;
  std::string path_;
  std::vector<uint8_t> good_;
};

TEST_F(CheckTest, AGoodRecordingPlays) { EXPECT_EQ(Verdict(good_), ""); }

TEST_F(CheckTest, FormatsThePlayerCannotUseAreRefused) {
  for (uint32_t bits : {0u, 7u, 64u}) EXPECT_NE(Verdict(With(kBitCount, bits, 2)), "") << bits << " bits";
  EXPECT_NE(Verdict(With(kWidth, 0)), "");
  EXPECT_NE(Verdict(With(kHeight, 0)), "");
  EXPECT_NE(Verdict(With(kHeight, 0x80000000u)), "");  // INT32_MIN
  EXPECT_NE(Verdict(With(kTimePerFrame, 0)), "");        // no frame rate
  EXPECT_NE(Verdict(With(kTimePerFrame, 1)), "");        // 10 million frames a second
  auto huge = With(kWidth, 30000);
  for (int i = 0; i < 4; ++i) huge[kHeight + i] = static_cast<uint8_t>(30000u >> (8 * i));
  EXPECT_NE(Verdict(huge), "");
}

TEST_F(CheckTest, RecordingsWithoutStreamsOrWithHostileTimesAreRefused) {
  // 14 bytes: no stream, and a trailer.
  std::vector<uint8_t> empty = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2E, 0x45, 0x58, 0x45};
  EXPECT_NE(Verdict(empty), "");
  EXPECT_NE(Verdict(With(good_.size() - 12, 0xFFFFFFFFu)), "");  // trailer duration
  EXPECT_NE(Verdict(With(kFirstPacket + 2, 0xFFFFFFFFu)), "");   // a packet's time stamp
}

TEST_F(CheckTest, ADamagedPayloadIsRefused) {
  auto damaged = good_;
  damaged[kFirstPacket + 18 + 4] ^= 0x5A;  // inside the first packet's deflate stream
  EXPECT_NE(Verdict(damaged), "");
}

// The exporter checks before it allocates: a 30000 x 30000 frame is refused
// at once, not after gigabytes.
TEST_F(CheckTest, ExportRefusesHostileSizesBeforeAllocating) {
  auto huge = With(kWidth, 30000);
  for (int i = 0; i < 4; ++i) huge[kHeight + i] = static_cast<uint8_t>(30000u >> (8 * i));
  testing::WriteAll(path_, huge);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path_));
  RawVideoInfo info;
  std::string error;
  int frames = 0;
  EXPECT_FALSE(ExportRawFrames(&file, &info, [&](uint32_t, const std::vector<uint8_t>&) { return ++frames > 0; },
                               &error));
  EXPECT_EQ(frames, 0);
  EXPECT_NE(error.find("30000"), std::string::npos) << error;
}

}  // namespace
}  // namespace kmr
