#include "recorder/control/testing/frames_on_grid.h"
#include "player/container_file.h"

#include <gtest/gtest.h>

#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteAll;

class Acceptor : public StreamAcceptor {
 public:
  explicit Acceptor(Guid major) : major_(major) {}
  bool Accept(const StreamHeader& h) override { return h.major_type == major_; }
  bool Configure(const StreamHeader& h, const std::vector<uint8_t>& format) override {
    header = h;
    this->format = format;
    ++configured;
    return true;
  }
  StreamHeader header;
  std::vector<uint8_t> format;
  int configured = 0;

 private:
  Guid major_;
};

// A self-playing recording with a video and an audio stream.
class RecordingFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    player_ = std::vector<uint8_t>(5000, 0x90);
    WriteAll(dir_.File("morvin"), player_);
    path_ = dir_.File("clip.exe");
    ExecutableWriter writer;
    ASSERT_TRUE(writer.SetPlayerPath(dir_.File("morvin").c_str()));
    ASSERT_TRUE(writer.SetPath(path_.c_str()));
    testing::FakeVideoSource video_source(320, 240, 16, 10);
    testing::FakeAudioSource audio_source;
    ContainerVideoStream video;
    ContainerAudioStream audio;
    ASSERT_TRUE(video.Attach(FormatOf(video_source)));
    testing::FramesOnGrid frames(&video_source, &video);
    ASSERT_TRUE(audio.Attach(FormatOf(audio_source)));
    video.SetWriter(&writer);
    audio.SetWriter(&writer);
    writer.AddStream(&video);
    writer.AddStream(&audio);
    ASSERT_TRUE(writer.Open());
    for (uint32_t i = 0; i < 20; ++i) {
      std::vector<uint8_t> frame(10 + i, static_cast<uint8_t>(i));
      video_source.SetFrame(frame, i % 5 == 0);
      ASSERT_TRUE(frames.Put(i * 100));
      const uint8_t mp3[3] = {0xFF, 0xFB, static_cast<uint8_t>(i)};
      ASSERT_TRUE(audio.Put({mp3, 3, i * 100, 100}));
    }
    writer.Close();
    video_format_ = video.FormatBlock();
  }

  TempDir dir_;
  std::vector<uint8_t> player_;
  std::string path_;
  std::vector<uint8_t> video_format_;
};

TEST_F(RecordingFixture, EveryFieldAndPacketReadsBack) {
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path_)) << file.Error();
  EXPECT_EQ(file.GetTrailer().container_start, player_.size());
  EXPECT_EQ(file.GetTrailer().duration, 2000u);
  ASSERT_EQ(file.Streams().size(), 2u);
  EXPECT_EQ(file.Streams()[0].header.subtype, kSubtypeScreenVideo);
  EXPECT_EQ(file.Streams()[0].format, video_format_);
  EXPECT_EQ(file.Streams()[0].format.size(), 100u);
  EXPECT_EQ(file.Streams()[1].header.major_type, kMediaTypeAudio);
  EXPECT_EQ(file.Streams()[1].format.size(), 30u);

  PacketRecord p;
  for (uint32_t i = 0; i < 20; ++i) {
    ASSERT_EQ(file.ReadPacket(&p), ContainerFile::ReadResult::kPacket);
    EXPECT_EQ(p.stream_id, 0);
    EXPECT_EQ(p.time_stamp, i * 100);
    EXPECT_EQ(p.duration, 100u);
    EXPECT_EQ(p.flags, i % 5 == 0 ? 1u : 0u);
    EXPECT_EQ(p.payload, std::vector<uint8_t>(10 + i, static_cast<uint8_t>(i)));
    ASSERT_EQ(file.ReadPacket(&p), ContainerFile::ReadResult::kPacket);
    EXPECT_EQ(p.stream_id, 1);
    EXPECT_EQ(p.payload[2], i);
  }
  EXPECT_EQ(file.ReadPacket(&p), ContainerFile::ReadResult::kEnd);
  file.Rewind();
  ASSERT_EQ(file.ReadPacket(&p), ContainerFile::ReadResult::kPacket);
  EXPECT_EQ(p.time_stamp, 0u);
}

TEST_F(RecordingFixture, DescriptorsGoToTheFirstAcceptorInOrder) {
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path_));
  Acceptor video(kMediaTypeVideo), audio(kMediaTypeAudio), video2(kMediaTypeVideo);
  auto active = file.MatchStreams({&video, &video2});
  ASSERT_EQ(active.size(), 2u);
  EXPECT_EQ(active[0], &video);
  EXPECT_EQ(active[1], nullptr);  // no decoder for audio: its packets are skipped
  EXPECT_EQ(video.configured, 1);
  EXPECT_EQ(video2.configured, 0);
  EXPECT_EQ(video.format, video_format_);
  active = file.MatchStreams({&audio, &video});
  EXPECT_EQ(active[0], &video);
  EXPECT_EQ(active[1], &audio);
}

TEST_F(RecordingFixture, StandAloneContainerReadsTheSameWay) {
  auto bytes = ReadAll(path_);
  std::vector<uint8_t> kmr(bytes.begin() + static_cast<long>(player_.size()), bytes.end());
  StoreU32(&kmr[kmr.size() - 8], 0);  // S = 0
  const std::string standalone = dir_.File("clip.kmr");
  WriteAll(standalone, kmr);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(standalone)) << file.Error();
  EXPECT_EQ(file.Streams().size(), 2u);
  PacketRecord p;
  int n = 0;
  while (file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket) ++n;
  EXPECT_EQ(n, 40);
}

// Damaged files: each gives a clear error and never reads outside the file.
class DamagedContainer : public RecordingFixture {
 protected:
  std::string OpenDamaged(const std::vector<uint8_t>& bytes) {
    ContainerFile file;
    auto source = std::make_unique<MemoryByteSource>(bytes.data(), bytes.size());
    if (!file.OpenSource(std::move(source))) return file.Error();
    PacketRecord p;
    for (;;) {
      auto r = file.ReadPacket(&p);
      if (r == ContainerFile::ReadResult::kEnd) return "";
      if (r == ContainerFile::ReadResult::kError) return file.Error();
    }
  }
  std::vector<uint8_t> Good() { return ReadAll(path_); }
  size_t S() const { return player_.size(); }
};

TEST_F(DamagedContainer, RejectsEachKindOfDamage) {
  EXPECT_EQ(OpenDamaged(Good()), "");
  EXPECT_NE(OpenDamaged({}), "");
  auto b = Good();
  EXPECT_NE(OpenDamaged(std::vector<uint8_t>(b.end() - 8, b.end())), "");  // truncated trailer

  b = Good();
  b.back() = 'X';
  EXPECT_NE(OpenDamaged(b).find("magic"), std::string::npos);

  b = Good();
  StoreU32(&b[b.size() - 8], static_cast<uint32_t>(b.size()));  // S beyond the file
  EXPECT_NE(OpenDamaged(b).find("beyond"), std::string::npos);

  b = Good();
  b[S()] = 0xFF;
  b[S() + 1] = 0xFF;  // 65535 streams
  EXPECT_NE(OpenDamaged(b).find("does not fit"), std::string::npos);

  b = Good();
  StoreU32(&b[S() + 2 + 64], 0x7FFFFFFF);  // format size
  EXPECT_NE(OpenDamaged(b).find("format block"), std::string::npos);

  b = Good();
  const size_t first_packet = S() + 2 + 72 + 100 + 72 + 30;
  StoreU32(&b[first_packet + 14], 0xFFFFFFF0);  // length
  EXPECT_NE(OpenDamaged(b).find("past the end"), std::string::npos);

  b = Good();
  // Cut in the middle of the last packet, keeping a valid trailer.
  std::vector<uint8_t> cut(b.begin(), b.end() - 12 - 2);
  cut.insert(cut.end(), b.end() - 12, b.end());
  EXPECT_NE(OpenDamaged(cut), "");
}

TEST(ContainerFile, MissingFileAndProgramWithoutRecording) {
  ContainerFile file;
  EXPECT_FALSE(file.OpenPath("/no/such/recording.exe"));
  EXPECT_FALSE(file.Error().empty());
  // A test program is a player without an appended recording.
  EXPECT_FALSE(file.OpenOwnExecutable());
  EXPECT_NE(file.Error().find("not a recording"), std::string::npos);
  PacketRecord p;
  EXPECT_EQ(file.ReadPacket(&p), ContainerFile::ReadResult::kError);
}

}  // namespace
}  // namespace kmr
