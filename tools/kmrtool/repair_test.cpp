#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "tools/kmrtool/repair.h"

#include <gtest/gtest.h>

#include "player/container_file.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

using testing::ReadAll;
using testing::WriteAll;

class RepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A player whose bytes hold the video type's GUID as a program's
    // constants would, with a stream count in front of it that is no container.
    player_.assign(5000, 0x90);
    const uint8_t vids[16] = {0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00,
                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    player_[1998] = 1;
    player_[1999] = 0;
    std::copy(vids, vids + 16, player_.begin() + 2000);
    std::copy(vids, vids + 16, player_.begin() + 3000);
    WriteAll(dir_.File("player"), player_);
    path_ = dir_.File("clip.exe");
    ExecutableWriter writer;
    ASSERT_TRUE(writer.SetPlayerPath(dir_.File("player").c_str()));
    ASSERT_TRUE(writer.SetPath(path_.c_str()));
    testing::FakeVideoSource source(640, 480, 32, 15);
    ContainerVideoStream video;
    ASSERT_TRUE(video.Attach(FormatOf(source)));
    video.SetWriter(&writer);
    writer.AddStream(&video);
    ASSERT_TRUE(writer.Open());
    for (uint32_t i = 0; i < 5; ++i) {
      source.SetFrame(std::vector<uint8_t>(200, static_cast<uint8_t>(i + 1)), i == 0);
      ASSERT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 15), 1000 / 15, i)));
    }
    ASSERT_TRUE(writer.Close());
    whole_ = ReadAll(path_);
  }

  std::vector<PacketRecord> Packets(const std::string& path, uint32_t* duration) {
    ContainerFile file;
    std::vector<PacketRecord> out;
    if (!file.OpenPath(path)) {
      ADD_FAILURE() << file.Error();
      return out;
    }
    *duration = file.GetTrailer().duration;
    EXPECT_EQ(file.GetTrailer().container_start, player_.size());
    PacketRecord p;
    while (file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket) out.push_back(p);
    EXPECT_EQ(file.Position(), file.PacketDataEnd());
    return out;
  }

  testing::TempDir dir_;
  std::vector<uint8_t> player_, whole_;
  std::string path_;
};

TEST_F(RepairTest, AKilledRecordingKeepsEveryWholePacket) {
  // No trailer, and the last packet torn 50 bytes into its payload.
  const size_t packet = 18 + 200;
  std::vector<uint8_t> killed(whole_.begin(), whole_.end() - 12 - packet + 18 + 50);
  WriteAll(dir_.File("killed.exe"), killed);
  ContainerFile unreadable;
  EXPECT_FALSE(unreadable.OpenPath(dir_.File("killed.exe")));

  RepairReport report;
  std::string error;
  ASSERT_TRUE(RepairRecording(dir_.File("killed.exe"), dir_.File("fixed.exe"), &report, &error)) << error;
  EXPECT_EQ(report.container_start, player_.size());
  EXPECT_EQ(report.packets, 4u);
  EXPECT_EQ(report.bytes_dropped, 18u + 50u);
  uint32_t duration = 0;
  const auto packets = Packets(dir_.File("fixed.exe"), &duration);
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[3].time_stamp, 200u);
  EXPECT_EQ(packets[3].payload, std::vector<uint8_t>(200, 4));
  EXPECT_EQ(duration, 200u + 66u);
  const auto fixed = ReadAll(dir_.File("fixed.exe"));
  EXPECT_TRUE(std::equal(player_.begin(), player_.end(), fixed.begin())) << "the player stays in front";
}

TEST_F(RepairTest, AFinishedRecordingComesOutTheSame) {
  RepairReport report;
  std::string error;
  ASSERT_TRUE(RepairRecording(path_, dir_.File("same.exe"), &report, &error)) << error;
  EXPECT_EQ(ReadAll(dir_.File("same.exe")), whole_);
}

TEST_F(RepairTest, KilledRightAfterTheDescriptorsGivesAnEmptyRecording) {
  std::vector<uint8_t> killed(whole_.begin(), whole_.begin() + static_cast<long>(player_.size()) + 2 + 72 + 88 + 7);
  WriteAll(dir_.File("killed.exe"), killed);
  RepairReport report;
  std::string error;
  ASSERT_TRUE(RepairRecording(dir_.File("killed.exe"), dir_.File("fixed.exe"), &report, &error)) << error;
  uint32_t duration = 1;
  EXPECT_TRUE(Packets(dir_.File("fixed.exe"), &duration).empty());
  EXPECT_EQ(duration, 0u);
}

TEST_F(RepairTest, RefusesWhatHoldsNoRecordingAndTheSameFile) {
  RepairReport report;
  std::string error;
  EXPECT_FALSE(RepairRecording(dir_.File("player"), dir_.File("out"), &report, &error));
  EXPECT_NE(error.find("no recording"), std::string::npos) << error;
  EXPECT_FALSE(RepairRecording(path_, path_, &report, &error));
  EXPECT_FALSE(RepairRecording(dir_.File("missing"), dir_.File("out"), &report, &error));
}

}  // namespace
}  // namespace kmr
