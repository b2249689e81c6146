#include "recorder/engine/executable_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "recorder/engine/container_stream.h"
#include "recorder/engine/testing/fake_sources.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

using testing::FakeAudioSource;
using testing::FakeVideoSource;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

std::vector<uint8_t> FakePlayer(size_t n) {
  std::vector<uint8_t> p(n);
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 31 + 7);
  p[0] = 'M';
  p[1] = 'Z';
  return p;
}

class ExecutableWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    player_ = FakePlayer(4099);
    player_path_ = dir_.File("morvin.exe");
    WriteAll(player_path_, player_);
    out_path_ = dir_.File("clip.exe");
    ASSERT_TRUE(writer_.SetPlayerPath(player_path_.c_str()));
    ASSERT_TRUE(writer_.SetPath(out_path_.c_str()));
  }

  void AddVideo() {
    ASSERT_TRUE(video_.Attach(&source_, 0));
    video_.SetWriter(&writer_);
    ASSERT_TRUE(writer_.AddStream(&video_));
  }

  TempDir dir_;
  std::vector<uint8_t> player_;
  std::string player_path_, out_path_;
  ExecutableWriter writer_;
  FakeVideoSource source_{640, 480, 32, 15};
  ContainerVideoStream video_;
};

TEST_F(ExecutableWriterTest, NamesAndPlayerPath) {
  EXPECT_EQ(writer_.FormatName(), "Executable File");
  EXPECT_EQ(writer_.Extension(), "exe");
  EXPECT_FALSE(writer_.SetPlayerPath(dir_.File("missing.exe").c_str()));
  EXPECT_FALSE(writer_.SetPlayerPath(nullptr));
  EXPECT_EQ(writer_.PlayerPath(), player_path_);  // the previous value stays
}

TEST_F(ExecutableWriterTest, OutputIsPlayerCopyThenContainerThenTrailer) {
  AddVideo();
  ASSERT_TRUE(writer_.Open());
  EXPECT_TRUE(writer_.IsRunning());
  source_.SetFrame({0xAA, 0xBB, 0xCC}, true);
  ASSERT_TRUE(video_.Submit(nullptr, 0, 0, 0, 0));
  writer_.Close();
  EXPECT_FALSE(writer_.IsRunning());

  const auto file = ReadAll(out_path_);
  const size_t s = player_.size();
  ASSERT_EQ(file.size(), s + 2 + 72 + 88 + 18 + 3 + 12);
  EXPECT_TRUE(std::equal(player_.begin(), player_.end(), file.begin()));
  EXPECT_EQ(writer_.ContainerStart(), s);
  EXPECT_EQ(file[s], 1);
  EXPECT_EQ(file[s + 1], 0);
  const size_t p = s + 2 + 72 + 88;  // first packet
  EXPECT_EQ(file[p] | (file[p + 1] << 8), 0);  // stream id
  EXPECT_EQ(LoadU32(&file[p + 2]), 0u);         // time stamp
  EXPECT_EQ(LoadU32(&file[p + 6]), 66u);        // duration
  EXPECT_EQ(LoadU32(&file[p + 10]), 1u);        // key frame
  EXPECT_EQ(LoadU32(&file[p + 14]), 3u);        // length
  EXPECT_EQ(file[p + 18], 0xAA);
  const size_t t = file.size() - 12;
  EXPECT_EQ(t, p + 18 + 3);
  EXPECT_EQ(LoadU32(&file[t]), 66u);
  EXPECT_EQ(LoadU32(&file[t + 4]), s);
  EXPECT_EQ(std::vector<uint8_t>(file.end() - 4, file.end()), (std::vector<uint8_t>{0x2E, 0x45, 0x58, 0x45}));
}

TEST_F(ExecutableWriterTest, RecordingStoppedAtOnceHasDescriptorsAndZeroDuration) {
  AddVideo();
  ASSERT_TRUE(writer_.Open());
  writer_.Close();
  const auto file = ReadAll(out_path_);
  ASSERT_EQ(file.size(), player_.size() + 2 + 72 + 88 + 12);
  EXPECT_EQ(LoadU32(&file[file.size() - 12]), 0u);
}

TEST_F(ExecutableWriterTest, ExistingOutputIsReplacedNotAppended) {
  WriteAll(out_path_, std::vector<uint8_t>(100000, 0x55));
  AddVideo();
  ASSERT_TRUE(writer_.Open());
  writer_.Close();
  EXPECT_EQ(ReadAll(out_path_).size(), player_.size() + 2 + 72 + 88 + 12);
  // And again, reusing the writer and its streams for a second recording.
  ASSERT_TRUE(writer_.Open());
  writer_.Close();
  EXPECT_EQ(ReadAll(out_path_).size(), player_.size() + 2 + 72 + 88 + 12);
}

TEST_F(ExecutableWriterTest, TrailerDurationIsTheLongestStream) {
  AddVideo();
  FakeAudioSource audio_source;
  ContainerAudioStream audio;
  ASSERT_TRUE(audio.Attach(&audio_source, 0));
  audio.SetWriter(&writer_);
  ASSERT_TRUE(writer_.AddStream(&audio));
  ASSERT_TRUE(writer_.Open());
  source_.SetFrame({1}, true);
  ASSERT_TRUE(video_.Submit(nullptr, 0, 0, 0, 0));
  ASSERT_TRUE(video_.Submit(nullptr, 0, 70, 0, 0));
  const uint8_t mp3[4] = {0xFF, 0xFB, 0x90, 0x00};
  ASSERT_TRUE(audio.Submit(mp3, 4, 0, 500, 0));
  ASSERT_TRUE(audio.Submit(mp3, 4, 500, 522, 0));
  writer_.Close();
  const auto file = ReadAll(out_path_);
  EXPECT_EQ(LoadU32(&file[file.size() - 12]), 1022u);
  EXPECT_EQ(file[player_.size()], 2);
}

TEST_F(ExecutableWriterTest, OpenFailsWithoutPathOrPlayer) {
  AddVideo();
  ExecutableWriter no_path;
  ASSERT_TRUE(no_path.SetPlayerPath(player_path_.c_str()));
  EXPECT_FALSE(no_path.Open());
  ExecutableWriter no_player;
  ASSERT_TRUE(no_player.SetPath(out_path_.c_str()));
  EXPECT_FALSE(no_player.Open());
  ASSERT_TRUE(writer_.SetPath(dir_.File("no/such/dir/clip.exe").c_str()));
  EXPECT_FALSE(writer_.Open());
  EXPECT_FALSE(writer_.IsRunning());
  writer_.Close();  // does nothing
}

TEST_F(ExecutableWriterTest, CloseWithoutOpenDoesNothing) {
  writer_.Close();
  EXPECT_FALSE(std::filesystem::exists(out_path_));
}

#ifndef _WIN32
// The whole file stays below 2,097,152,000 bytes: the packet that crosses the
// limit stays, the writer thread stops and posts its message, and the trailer
// is still written at close. The file is made sparse so the test stays small.
TEST_F(ExecutableWriterTest, CrossingTheSizeLimitStopsTheWriterAndKeepsTheFile) {
  AddVideo();
  std::atomic<int> posted{0};
  platform::CallbackNotifyTarget target([&](uint32_t message) {
    EXPECT_EQ(message, 2027u);
    ++posted;
  });
  writer_.SetNotify(&target, 2027);
  ASSERT_TRUE(writer_.Open());
  std::filesystem::resize_file(out_path_, kMaxContainerFilePosition - 40);
  source_.SetFrame(std::vector<uint8_t>(30, 0x11), true);
  ASSERT_TRUE(video_.Submit(nullptr, 0, 0, 0, 0));  // ends at limit + 8
  for (int i = 0; i < 200 && posted.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(posted.load(), 1);
  // Later submits are refused rather than blocking the producer.
  source_.SetFrame(std::vector<uint8_t>(30, 0x22), false);
  for (int i = 0; i < 3; ++i) video_.Submit(nullptr, 0, 100 + 70 * i, 0, 0);
  EXPECT_TRUE(writer_.IsRunning());  // until the stop path closes it
  writer_.Close();
  EXPECT_FALSE(writer_.IsRunning());

  const uint64_t size = std::filesystem::file_size(out_path_);
  EXPECT_EQ(size, kMaxContainerFilePosition - 40 + 18 + 30 + 12);
  FILE* f = std::fopen(out_path_.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::fseek(f, static_cast<long>(size - 12 - 30 - 18), SEEK_SET);
  uint8_t tail[60];
  ASSERT_EQ(std::fread(tail, 1, sizeof(tail), f), sizeof(tail));
  std::fclose(f);
  EXPECT_EQ(LoadU32(&tail[14]), 30u);
  EXPECT_EQ(tail[18], 0x11);
  EXPECT_EQ(LoadU32(&tail[48 + 4]), player_.size());
  EXPECT_EQ(LoadU32(&tail[48 + 8]), kTrailerMagic);
}
#endif

}  // namespace
}  // namespace kmr
