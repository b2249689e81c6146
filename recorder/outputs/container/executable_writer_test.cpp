#include "recorder/control/testing/frames_on_grid.h"
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "recorder/outputs/container/executable_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "player/container_file.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "recorder/outputs/testing/full_disk_file.h"
#include "shared/testing/temp_dir.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

using testing::FakeAudioSource;
using testing::FakeVideoSource;
using testing::FullDiskExecutableWriter;
using testing::WaitUntil;
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
    ASSERT_TRUE(video_.Attach(FormatOf(source_)));
    video_.SetWriter(&writer_);
    ASSERT_TRUE(writer_.AddStream(&video_));
  }

  TempDir dir_;
  std::vector<uint8_t> player_;
  std::string player_path_, out_path_;
  ExecutableWriter writer_;
  FakeVideoSource source_{640, 480, 32, 15};
  ContainerVideoStream video_;
  testing::FramesOnGrid frames_{&source_, &video_};
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
  ASSERT_TRUE(frames_.Put(0));
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
  ASSERT_TRUE(audio.Attach(FormatOf(audio_source)));
  audio.SetWriter(&writer_);
  ASSERT_TRUE(writer_.AddStream(&audio));
  ASSERT_TRUE(writer_.Open());
  source_.SetFrame({1}, true);
  ASSERT_TRUE(frames_.Put(0));
  ASSERT_TRUE(frames_.Put(70));
  const uint8_t mp3[4] = {0xFF, 0xFB, 0x90, 0x00};
  ASSERT_TRUE(audio.Put({mp3, 4, 0, 500}));
  ASSERT_TRUE(audio.Put({mp3, 4, 500, 522}));
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
// An executable writer whose output already holds nearly 2,097,152,000 bytes
// when the container starts (a sparse file, so the test stays small).
class NearlyFullSizeWriter : public ExecutableWriter {
 public:
  static constexpr uint64_t kStart = kMaxContainerFilePosition - 40 - (2 + 72 + 88);

 protected:
  std::unique_ptr<OutputFile> CreateFile(const std::string& path, const char* mode, std::string* error) override {
    std::filesystem::resize_file(path, kStart);
    return ExecutableWriter::CreateFile(path, mode, error);
  }
};

// The whole file stays below 2,097,152,000 bytes: the packet that crosses the
// limit stays, the writer thread stops and posts its message, and the trailer
// is still written at close.
TEST_F(ExecutableWriterTest, CrossingTheSizeLimitStopsTheWriterAndKeepsTheFile) {
  NearlyFullSizeWriter writer;
  ASSERT_TRUE(writer.SetPlayerPath(player_path_.c_str()));
  ASSERT_TRUE(writer.SetPath(out_path_.c_str()));
  ASSERT_TRUE(video_.Attach(FormatOf(source_)));
  video_.SetWriter(&writer);
  ASSERT_TRUE(writer.AddStream(&video_));
  std::atomic<int> posted{0};
  platform::CallbackNotifyTarget target([&](uint32_t message) {
    EXPECT_EQ(message, 2027u);
    ++posted;
  });
  writer.SetNotify(&target, 2027);
  ASSERT_TRUE(writer.Open());
  source_.SetFrame(std::vector<uint8_t>(30, 0x11), true);
  ASSERT_TRUE(frames_.Put(0));  // ends at limit + 8
  ASSERT_TRUE(WaitUntil([&] { return posted.load() != 0; }));
  EXPECT_EQ(posted.load(), 1);
  // Later submits are refused rather than blocking the producer.
  source_.SetFrame(std::vector<uint8_t>(30, 0x22), false);
  for (int i = 0; i < 3; ++i) frames_.Put(100 + 70 * i);
  EXPECT_TRUE(writer.IsRunning());  // until the stop path closes it
  EXPECT_FALSE(writer.Close());
  EXPECT_FALSE(writer.IsRunning());
  EXPECT_EQ(writer.Error(),
            "The file reached the largest size a recording can have. What was recorded until then is kept in the "
            "file, which plays as it is.");

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
  EXPECT_EQ(LoadU32(&tail[48 + 4]), NearlyFullSizeWriter::kStart);
  EXPECT_EQ(LoadU32(&tail[48 + 8]), kTrailerMagic);
}
#endif

// Records frames of 100 bytes (a packet record of 118 bytes each) into a
// writer whose disk fills at capacity, and returns the packets the finished
// file holds, read back by the player's reader.
class FullDiskTest : public ExecutableWriterTest {
 protected:
  static constexpr uint64_t kRecord = 18 + 100;
  uint64_t Descriptors() const { return player_.size() + 2 + 72 + 88; }

  std::vector<PacketRecord> RecordOnto(uint64_t capacity, int frames, bool* close_ok, std::string* cause) {
    FullDiskExecutableWriter writer(capacity);
    EXPECT_TRUE(writer.SetPlayerPath(player_path_.c_str()));
    EXPECT_TRUE(writer.SetPath(out_path_.c_str()));
    EXPECT_TRUE(video_.Attach(FormatOf(source_)));
    video_.SetWriter(&writer);
    EXPECT_TRUE(writer.AddStream(&video_));
    std::atomic<int> posted{0};
    platform::CallbackNotifyTarget target([&](uint32_t) { ++posted; });
    writer.SetNotify(&target, 2027);
    EXPECT_TRUE(writer.Open());
    for (int i = 0; i < frames && posted.load() == 0; ++i) {
      source_.SetFrame(std::vector<uint8_t>(100, static_cast<uint8_t>(i + 1)), i == 0);
      video_.Put(EncodedFrame(source_, FrameGrid::SlotTime(static_cast<uint32_t>(i), 15), 1000 / 15, static_cast<uint32_t>(i)));
      // One packet at a time, so that the failing one is known.
      EXPECT_TRUE(WaitUntil([&] { return posted.load() != 0 || std::filesystem::file_size(out_path_) >=
                                                                     Descriptors() + kRecord * (i + 1) ||
                                         std::filesystem::file_size(out_path_) >= capacity; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return posted.load() != 0; }));
    *close_ok = writer.Close();
    *cause = writer.Error();
    std::vector<PacketRecord> packets;
    ContainerFile file;
    if (!file.OpenPath(out_path_)) {
      ADD_FAILURE() << file.Error();
      return packets;
    }
    PacketRecord p;
    while (file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket) packets.push_back(p);
    EXPECT_EQ(file.Position(), file.PacketDataEnd()) << file.Error();
    duration_ = file.GetTrailer().duration;
    return packets;
  }
  uint32_t duration_ = 0;
};

TEST_F(FullDiskTest, AFullDiskIsAFailureAndEveryWholePacketStaysPlayable) {
  bool ok = true;
  std::string cause;
  // Room for three packets and half of the fourth.
  const auto packets = RecordOnto(Descriptors() + 3 * kRecord + 59, 10, &ok, &cause);
  EXPECT_FALSE(ok);
  EXPECT_EQ(cause,
            "There is no space left on the disk. What was recorded until then is kept in the file, which plays as it "
            "is.");
  ASSERT_EQ(packets.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(packets[i].payload, std::vector<uint8_t>(100, static_cast<uint8_t>(i + 1)));
  }
  EXPECT_EQ(std::filesystem::file_size(out_path_), Descriptors() + 3 * kRecord + 12);
  EXPECT_EQ(duration_, 133u + 66u);  // the third frame's slot and its duration
}

TEST_F(FullDiskTest, WhenTheTrailerDoesNotFitBehindTheLastPacketThatPacketMakesRoom) {
  bool ok = true;
  std::string cause;
  // Three whole packets and 5 bytes: the trailer needs 12.
  const auto packets = RecordOnto(Descriptors() + 3 * kRecord + 5, 10, &ok, &cause);
  EXPECT_FALSE(ok);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[1].payload, std::vector<uint8_t>(100, 2));
  EXPECT_EQ(std::filesystem::file_size(out_path_), Descriptors() + 2 * kRecord + 12);
}

TEST_F(ExecutableWriterTest, ADiskTooFullForTheDescriptorsFailsTheOpenWithTheCause) {
  FullDiskExecutableWriter writer(player_.size() + 50);
  ASSERT_TRUE(writer.SetPlayerPath(player_path_.c_str()));
  ASSERT_TRUE(writer.SetPath(out_path_.c_str()));
  ASSERT_TRUE(video_.Attach(FormatOf(source_)));
  video_.SetWriter(&writer);
  ASSERT_TRUE(writer.AddStream(&video_));
  EXPECT_FALSE(writer.Open());
  EXPECT_FALSE(writer.IsRunning());
  EXPECT_EQ(writer.Error(), "There is no space left on the disk.");
}

TEST_F(ExecutableWriterTest, OpenFailuresSayWhy) {
  AddVideo();
  ASSERT_TRUE(writer_.SetPath(dir_.File("no/such/dir/clip.exe").c_str()));
  EXPECT_FALSE(writer_.Open());
  EXPECT_EQ(writer_.Error(), "The folder does not exist.");
#ifndef _WIN32
  ASSERT_TRUE(writer_.SetPath("/dev/full"));
  EXPECT_FALSE(writer_.Open());
  EXPECT_EQ(writer_.Error(), "There is no space left on the disk.");
#endif
}

// Packets reach the file while the recording runs, not only at close, so a
// recorder that dies loses at most the last second.
TEST_F(ExecutableWriterTest, WrittenPacketsReachTheFileWhileRecording) {
  AddVideo();
  ASSERT_TRUE(writer_.Open());
  const uint64_t descriptors = player_.size() + 2 + 72 + 88;
  source_.SetFrame(std::vector<uint8_t>(1000, 7), true);
  ASSERT_TRUE(frames_.Put(0));
  EXPECT_TRUE(WaitUntil([&] { return std::filesystem::file_size(out_path_) == descriptors + 18 + 1000; }));
  EXPECT_TRUE(writer_.Close());
}

// A writer thread that stopped on a failed write with nobody to tell is
// joined before the next recording's thread starts (no thread is assigned
// over a running one).
TEST_F(ExecutableWriterTest, ARecordingAfterAnUnreportedFailureStartsCleanly) {
  FullDiskExecutableWriter writer(player_.size() + 2 + 72 + 88 + 30);
  ASSERT_TRUE(writer.SetPlayerPath(player_path_.c_str()));
  ASSERT_TRUE(writer.SetPath(out_path_.c_str()));
  ASSERT_TRUE(video_.Attach(FormatOf(source_)));
  video_.SetWriter(&writer);
  ASSERT_TRUE(writer.AddStream(&video_));
  ASSERT_TRUE(writer.Open());
  source_.SetFrame(std::vector<uint8_t>(100, 1), true);
  ASSERT_TRUE(frames_.Put(0));
  ASSERT_TRUE(WaitUntil([&] { return !writer.IsRunning(); }));
  // The second recording goes to the same full disk: it opens, and fails again
  // at its first packet, without terminating the program.
  ASSERT_TRUE(writer.Open());
  ASSERT_TRUE(frames_.Put(0));
  ASSERT_TRUE(WaitUntil([&] { return !writer.IsRunning(); }));
  EXPECT_FALSE(writer.Close());
  ContainerFile file;
  EXPECT_TRUE(file.OpenPath(out_path_)) << file.Error();
}

}  // namespace
}  // namespace kmr
