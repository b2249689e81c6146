// The conversion's choices by file name, and what it leaves behind when it
// is cancelled or cannot write: nothing. (What it writes is read back by
// ffprobe and ffmpeg in convert_test.sh.)
#include "tools/kmrtool/libav/convert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "player/container_file.h"
#include "shared/testing/temp_dir.h"
#include "tools/kmrtool/testing/small_recording.h"

namespace kmr {
namespace {

TEST(ChooseConvertTarget, TheExtensionPicksTheContainerAndCodecs) {
  ConvertTarget t;
  std::string error;
  ASSERT_TRUE(ChooseConvertTarget("a.mp4", false, &t, &error));
  EXPECT_STREQ(t.container, "mp4");
  EXPECT_STREQ(t.video, "libx264");
  EXPECT_FALSE(t.opus_sound);
  ASSERT_TRUE(ChooseConvertTarget("a.MP4", true, &t, &error));
  EXPECT_STREQ(t.video, "libx264rgb");
  ASSERT_TRUE(ChooseConvertTarget("clip", false, &t, &error));
  EXPECT_STREQ(t.container, "mp4") << "MP4 unless the name says otherwise";
  ASSERT_TRUE(ChooseConvertTarget("a.mkv", true, &t, &error));
  EXPECT_STREQ(t.container, "matroska");
  EXPECT_STREQ(t.video, "ffv1");
  ASSERT_TRUE(ChooseConvertTarget("a.webm", false, &t, &error));
  EXPECT_STREQ(t.container, "webm");
  EXPECT_STREQ(t.video, "libvpx-vp9");
  EXPECT_TRUE(t.opus_sound);
  EXPECT_FALSE(ChooseConvertTarget("a.webm", true, &t, &error));
  EXPECT_NE(error.find("WebM"), std::string::npos) << error;
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("clip.kmr");
    testing::WriteSmallRecording(path_, 20);
    ASSERT_TRUE(file_.OpenPath(path_)) << file_.Error();
  }

  testing::TempDir dir_;
  std::string path_;
  ContainerFile file_;
};

TEST_F(ConvertTest, WritesAFileThatStartsAsItsContainerSays) {
  const std::string out = dir_.File("copy.mkv");
  std::string error;
  ASSERT_TRUE(ConvertRecording(&file_, out, ConvertOptions{}, &error)) << error;
  const std::vector<uint8_t> bytes = testing::ReadAll(out);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], 0x1A);  // EBML
  EXPECT_EQ(bytes[1], 0x45);
  EXPECT_EQ(bytes[2], 0xDF);
  EXPECT_EQ(bytes[3], 0xA3);
}

// Ctrl-C comes to the conversion as a cancel: the output is removed, and the
// recording is as it was.
TEST_F(ConvertTest, ACancelledConversionLeavesNoOutput) {
  const std::vector<uint8_t> before = testing::ReadAll(path_);
  const std::string out = dir_.File("copy.mp4");
  ConvertOptions options;
  int frames = 0;
  double last_done = 0;
  options.progress = [&](double done) { last_done = done; };
  options.cancelled = [&] { return ++frames > 5; };
  std::string error;
  EXPECT_FALSE(ConvertRecording(&file_, out, options, &error));
  EXPECT_EQ(error, "cancelled");
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_GT(last_done, 0.0);
  EXPECT_LT(last_done, 1.0);
  EXPECT_EQ(testing::ReadAll(path_), before);
}

TEST_F(ConvertTest, AnOutputThatCannotBeWrittenIsAFailureWithItsReason) {
  std::string error;
  EXPECT_FALSE(ConvertRecording(&file_, dir_.File("missing/copy.mp4"), ConvertOptions{}, &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("missing")));
}

}  // namespace
}  // namespace kmr
