#include "recorder/control/testing/frames_on_grid.h"
#include "recorder/outputs/disk_room.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "recorder/outputs/avi/avi_writer.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "recorder/outputs/testing/recording_media_libraries.h"
#include "recorder/outputs/wmv/wmv_writer.h"

namespace kmr {
namespace {

// A disk whose free bytes the test sets; it counts how often it is asked.
struct DiskState {
  std::atomic<uint64_t> free{0};
  std::atomic<bool> known{true};
  std::atomic<int> looks{0};
};

class ScriptedDisk : public DiskSpace {
 public:
  explicit ScriptedDisk(DiskState* state) : state_(state) {}
  bool Free(uint64_t* bytes) override {
    ++state_->looks;
    *bytes = state_->free.load();
    return state_->known.load();
  }

 private:
  DiskState* state_;
};

TEST(DiskRoomKeeper, ALargeDiskAdmitsEverySampleAndIsLookedAtFourTimesASecond) {
  DiskState disk;
  disk.free = 500ull << 30;
  DiskRoomKeeper keeper(std::make_unique<ScriptedDisk>(&disk));
  for (uint32_t t = 0; t < 10000; t += 10) ASSERT_TRUE(keeper.Admit(t)) << t;
  EXPECT_FALSE(keeper.RanOut());
  EXPECT_EQ(disk.looks.load(), 40);  // 0, 250, ..., 9750 ms
}

// 10 MB free, the recording takes 1 MB a second, 20 samples a second. The
// end needs 1 MiB, 32 bytes a sample and twice the last two seconds' 2 MB:
// at 4750 ms (96 samples) 5 250 000 bytes are free and 5 051 648 needed;
// at 5000 ms (101 samples) 5 000 000 are free, fewer than 5 051 808.
TEST(DiskRoomKeeper, StopsWhileTheDiskStillHoldsWhatTheEndNeeds) {
  DiskState disk;
  DiskRoomKeeper keeper(std::make_unique<ScriptedDisk>(&disk));
  uint32_t refused_at = 0;
  for (uint32_t t = 0; t <= 8000; t += 50) {
    disk.free = 10000000ull - 1000ull * t;
    if (!keeper.Admit(t)) {
      refused_at = t;
      break;
    }
  }
  EXPECT_EQ(refused_at, 5000u);
  EXPECT_TRUE(keeper.RanOut());
  EXPECT_EQ(keeper.Needed(), 5051808u);
  // Once out of room, nothing more goes in, even if room comes back.
  disk.free = 500ull << 30;
  EXPECT_FALSE(keeper.Admit(5250));
  EXPECT_FALSE(keeper.Admit(9000));
}

TEST(DiskRoomKeeper, SamplesOutOfTimeOrderAndAnUnknownDiskAreAdmitted) {
  DiskState disk;
  disk.free = 2u << 20;
  DiskRoomKeeper keeper(std::make_unique<ScriptedDisk>(&disk));
  ASSERT_TRUE(keeper.Admit(1000));
  EXPECT_TRUE(keeper.Admit(990));  // the sound block that came after the frame
  EXPECT_TRUE(keeper.Admit(400));
  EXPECT_EQ(disk.looks.load(), 1);
  disk.known = false;
  disk.free = 0;
  for (uint32_t t = 1250; t < 5000; t += 250) EXPECT_TRUE(keeper.Admit(t)) << t;
  EXPECT_FALSE(keeper.RanOut());
  DiskRoomKeeper nothing(nullptr);
  EXPECT_TRUE(nothing.Admit(0));
}

TEST(DiskRoomKeeper, TheSystemKnowsTheRoomOfAFileNotYetMade) {
  const std::string dir = std::filesystem::temp_directory_path().string();
  uint64_t free = 0;
  ASSERT_TRUE(MakeDiskSpaceOf(dir + "/no-such-file-yet.avi")->Free(&free));
  EXPECT_GT(free, 0u);
}

// The writers over a disk that fills: the recording stops before the disk
// is full, the file is still finished, and the cause says both.
template <class Writer>
class OnScriptedDisk : public Writer {
 public:
  template <class... Args>
  OnScriptedDisk(DiskState* disk, Args&&... args) : Writer(std::forward<Args>(args)...), disk_(disk) {}

 protected:
  std::unique_ptr<DiskSpace> DiskSpaceOf(const std::string&) override {
    return std::make_unique<ScriptedDisk>(disk_);
  }

 private:
  DiskState* disk_;
};

constexpr const char* kKeptCause =
    "There is no space left on the disk. What was recorded until then is kept in the file, which plays as it is.";

TEST(DiskRoomWriters, AnAviRecordingStopsShortOfAFullDiskAndIsFinished) {
  DiskState disk;
  disk.free = 64u << 20;
  testing::AviLog log;
  std::atomic<int> notified{0};
  platform::CallbackNotifyTarget target([&](uint32_t) { ++notified; });
  const std::string path = (std::filesystem::temp_directory_path() / "disk_room_test.avi").string();
  {
    OnScriptedDisk<AviWriter> writer(&disk, std::make_unique<testing::RecordingAviLibrary>(&log));
    writer.SetPath(path.c_str());
    writer.SetNotify(&target, 2027);
    testing::FakeVideoSource source(64, 48, 32, 10);
    AviVideoStream video;
    ASSERT_TRUE(video.Attach(FormatOf(source)));
    testing::FramesOnGrid frames(&source, &video);
    video.SetWriter(&writer);
    ASSERT_TRUE(writer.AddStream(&video));
    ASSERT_TRUE(writer.Open());
    source.SetFrame({1, 2, 3}, true);
    ASSERT_TRUE(frames.Put(0));
    // Wait for the frame to be written, then the disk all but fills.
    const auto writes = [&] {
      std::lock_guard<std::mutex> lock(log.mutex);
      return log.writes.size();
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (writes() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(writes(), 2u) << "the empty sample 0 and the frame";
    // Frames at 100 and 200 ms go in before the next look, at 300 ms.
    disk.free = 1u << 20;
    for (uint32_t t = 100; t <= 300; t += 100) {
      source.SetFrame({4}, false);
      frames.Put(t);
    }
    while (notified.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_EQ(notified.load(), 1);
    EXPECT_FALSE(writer.Close());
    EXPECT_EQ(writer.Error(), kKeptCause);
    EXPECT_EQ(writes(), 4u) << "the frame past the room is not written";
    EXPECT_EQ(log.Count("release"), 1) << "the file is finished";
    // The next recording starts with room again.
    disk.free = 64u << 20;
    ASSERT_TRUE(writer.Open());
    EXPECT_TRUE(writer.Close());
    EXPECT_EQ(writer.Error(), "");
    writer.ClearStreams();
  }
  std::filesystem::remove(path);
}

TEST(DiskRoomWriters, AWindowsMediaRecordingStopsShortOfAFullDiskAndIsFinished) {
  DiskState disk;
  disk.free = 1u << 20;  // too little from the start
  testing::WmLog log;
  OnScriptedDisk<WmvWriter> writer(&disk, std::make_unique<testing::RecordingWmFactory>(&log));
  ASSERT_TRUE(writer.Initialize());
  writer.SetPath("/videos/clip.wmv");
  testing::FakeAudioSource sound;
  WmvAudioStream audio;
  ASSERT_TRUE(audio.Attach(FormatOf(sound)));
  audio.SetWriter(&writer);
  ASSERT_TRUE(writer.AddStream(&audio));
  ASSERT_TRUE(writer.Open());
  const uint8_t mp3[2] = {1, 2};
  audio.Put({mp3, 2, 0, 26});
  EXPECT_FALSE(writer.Close());
  EXPECT_EQ(writer.Error(), kKeptCause);
  EXPECT_TRUE(log.samples.empty());
  EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "end"), 1) << "the file is finished";
  writer.ClearStreams();
}

}  // namespace
}  // namespace kmr
