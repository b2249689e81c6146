#include "recorder/control/testing/frames_on_grid.h"
#include "tools/kmrtool/probe.h"

#include <gtest/gtest.h>

#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteAll(dir_.File("player"), std::vector<uint8_t>(1000, 1));
    path_ = dir_.File("clip.exe");
  }
  // Video packets at the given grid times (ms), key frames where asked.
  void Record(const std::vector<uint32_t>& times) {
    ExecutableWriter writer;
    ASSERT_TRUE(writer.SetPlayerPath(dir_.File("player").c_str()));
    ASSERT_TRUE(writer.SetPath(path_.c_str()));
    testing::FakeVideoSource source(1280, 1024, 32, 15);
    ContainerVideoStream video;
    ASSERT_TRUE(video.Attach(FormatOf(source)));
    testing::FramesOnGrid frames(&source, &video);
    video.SetWriter(&writer);
    writer.AddStream(&video);
    ASSERT_TRUE(writer.Open());
    for (size_t i = 0; i < times.size(); ++i) {
      source.SetFrame(std::vector<uint8_t>(100, 7), i == 0);
      ASSERT_TRUE(frames.Put(times[i]));
    }
    writer.Close();
  }
  testing::TempDir dir_;
  std::string path_;
};

TEST_F(ProbeTest, CountsPacketsKeyFramesAndTimes) {
  Record({0, 70, 1000});
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path_));
  const ProbeReport r = ProbeContainer(&file);
  EXPECT_TRUE(r.problem.empty()) << r.problem;
  ASSERT_EQ(r.streams.size(), 1u);
  EXPECT_EQ(r.streams[0].packets, 3u);
  EXPECT_EQ(r.streams[0].key_frames, 1u);
  EXPECT_EQ(r.streams[0].bytes, 300u);
  EXPECT_EQ(r.streams[0].first_time_stamp, 0u);
  EXPECT_EQ(r.streams[0].last_time_stamp, 1000u);
  const std::string json = ProbeToJson(file, r);
  EXPECT_NE(json.find("\"container_start\": 1000"), std::string::npos) << json;
  EXPECT_NE(json.find("\"compression\": \"KMRV\""), std::string::npos);
  EXPECT_NE(json.find("\"fps\": 15.000"), std::string::npos);
  EXPECT_NE(json.find("\"width\": 1280"), std::string::npos);
  EXPECT_NE(json.find("{73646976-0000-0010-8000-00AA00389B71}"), std::string::npos);
  EXPECT_NE(json.find("\"duration_ms\": 1066"), std::string::npos);
}

TEST_F(ProbeTest, FindsTimeStampsGoingBackAndShortTrailerDuration) {
  Record({0, 70, 140});
  auto bytes = testing::ReadAll(path_);
  // Swap the time stamp of the last packet back to 10 ms.
  const size_t last = bytes.size() - 12 - 100 - 18;
  StoreU32(&bytes[last + 2], 10);
  testing::WriteAll(path_, bytes);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path_));
  EXPECT_NE(ProbeContainer(&file).problem.find("go back"), std::string::npos);

  StoreU32(&bytes[last + 2], 133);
  StoreU32(&bytes[bytes.size() - 12], 5);  // duration shorter than the packets
  testing::WriteAll(path_, bytes);
  ASSERT_TRUE(file.OpenPath(path_));
  EXPECT_NE(ProbeContainer(&file).problem.find("trailer duration"), std::string::npos);
}

}  // namespace
}  // namespace kmr
