// A recording as the programs run it: duration, pause, window following,
// write failures and the window's own steps.
#include "recorder/control/recording_session.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "player/container_file.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/control/testing/fake_capturer.h"
#include "recorder/outputs/testing/full_disk_file.h"
#include "shared/testing/temp_dir.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

using testing::FakeCapturer;
using testing::FakeClock;
using testing::GatedTimer;

struct Messages : platform::MessageSink {
  std::vector<std::string> shown;
  void ShowStop(const std::string& text) override { shown.push_back(text); }
};

struct StepLog : RecordingHooks {
  std::vector<std::string> steps;
  void OnStarting(const RecordingSettings&) override { steps.push_back("starting"); }
  void OnStopped() override { steps.push_back("stopped"); }
  void OnPaused() override { steps.push_back("paused"); }
  void OnResumed() override { steps.push_back("resumed"); }
};

struct MovingWindow : WindowLocator {
  std::optional<Rect> where;
  std::optional<Rect> Locate() override { return where; }
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(std::make_unique<ExecutableWriter>()); }

  void Build(std::unique_ptr<ExecutableWriter> writer) {
    writer_ = std::move(writer);
    testing::WriteAll(dir_.File("morvin"), std::vector<uint8_t>(300, 0x4D));
    ASSERT_TRUE(writer_->SetPlayerPath(dir_.File("morvin").c_str()));
    auto timer = std::make_unique<GatedTimer>();
    timer->Open();  // frames run freely
    capture_.clock = &capture_clock_;
    video_ = std::make_unique<ScreenVideoSource>(&capture_, &capture_clock_, std::move(timer));
    controller_ = std::make_unique<RecordingController>(&capture_, video_.get(), &messages_);
    controller_->SetOutput(OutputKind::kExecutable, writer_.get(), &stream_, nullptr, false);
    controller_->SetHooks(&hooks_);
    session_ = std::make_unique<RecordingSession>(controller_.get(), video_.get(), &clock_);
    settings_.output_path = dir_.File("clip.exe");
    settings_.capture_rect = Rect{0, 0, 64, 48};
    settings_.encoder = &codec_;
  }
  void TearDown() override {
    if (controller_->IsRecording()) controller_->ToggleStartStop(settings_);
  }
  // Polls with the session clock moving on by step ms per turn; the turns it
  // took until the session ended.
  int RunUntilOver(uint32_t step, int limit = 1000) {
    int turns = 0;
    while (session_->Poll() && turns < limit) {
      clock_.now += step;
      ++turns;
    }
    return turns;
  }

  testing::TempDir dir_;
  FakeClock clock_, capture_clock_;
  testing::FakeOwnCodec codec_;
  FakeCapturer capture_;
  std::unique_ptr<ExecutableWriter> writer_;
  ContainerVideoStream stream_;
  std::unique_ptr<ScreenVideoSource> video_;
  Messages messages_;
  StepLog hooks_;
  std::unique_ptr<RecordingController> controller_;
  std::unique_ptr<RecordingSession> session_;
  RecordingSettings settings_;
};

TEST_F(SessionTest, StopsAfterTheDurationWithPausedTimeLeftOut) {
  session_->SetDuration(1000);
  ASSERT_TRUE(session_->Start(settings_));
  clock_.now += 400;
  EXPECT_TRUE(session_->Poll());
  session_->RequestPauseToggle();
  EXPECT_TRUE(session_->Poll());
  EXPECT_TRUE(session_->IsPaused());
  clock_.now += 5000;  // paused: does not count
  EXPECT_TRUE(session_->Poll());
  session_->RequestPauseToggle();
  EXPECT_TRUE(session_->Poll());
  EXPECT_FALSE(session_->IsPaused());
  EXPECT_EQ(session_->RecordedMs(), 400u);
  // 600 ms of recording remain: six turns of 100 ms.
  EXPECT_EQ(RunUntilOver(100), 6);
  EXPECT_EQ(session_->Result(), RecordingSession::Outcome::kFinished);
  EXPECT_FALSE(controller_->IsRecording());
  EXPECT_EQ(hooks_.steps, (std::vector<std::string>{"starting", "paused", "resumed", "stopped"}));
  ContainerFile file;
  EXPECT_TRUE(file.OpenPath(settings_.output_path)) << file.Error();
  EXPECT_TRUE(messages_.shown.empty());
}

// Players refuse recordings longer than a day: a recording without a
// duration stops before it gets there.
TEST_F(SessionTest, ARecordingStopsBeforeTheLongestARecordingCanBe) {
  ASSERT_TRUE(session_->Start(settings_));
  for (int hour = 0; hour < 23; ++hour) {
    clock_.now += 3600u * 1000u;
    ASSERT_TRUE(session_->Poll()) << "stopped after " << hour + 1 << " h";
  }
  clock_.now += 3600u * 1000u - 1000u;  // 23 h 59 min 59 s
  EXPECT_FALSE(session_->Poll());
  EXPECT_EQ(session_->Result(), RecordingSession::Outcome::kFinished);
  EXPECT_LT(session_->RecordedMs(), kMaxRecordingMs);
}

TEST_F(SessionTest, AStopRequestEndsTheRecordingWithAFinishedFile) {
  ASSERT_TRUE(session_->Start(settings_));
  ASSERT_TRUE(testing::WaitUntil([&] { return video_->FramesSubmitted() >= 3; }));
  EXPECT_TRUE(session_->Poll());
  session_->RequestStop();
  EXPECT_FALSE(session_->Poll());
  EXPECT_EQ(session_->Result(), RecordingSession::Outcome::kFinished);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(settings_.output_path)) << file.Error();
  PacketRecord p;
  EXPECT_EQ(file.ReadPacket(&p), ContainerFile::ReadResult::kPacket);
}

TEST_F(SessionTest, AWriteFailureRunsTheStopSequenceAndSaysWhy) {
  ASSERT_TRUE(session_->Start(settings_));
  session_->NotifyWriteFailure();
  EXPECT_FALSE(session_->Poll());
  EXPECT_EQ(session_->Result(), RecordingSession::Outcome::kWriteFailed);
  EXPECT_FALSE(controller_->IsRecording());
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].rfind("Can not continue recording!", 0), 0u);
  EXPECT_EQ(hooks_.steps.back(), "stopped");
}

// A writer without a window to tell (no notify target) fails on a full
// disk; the failure surfaces when the recording stops, with its cause.
TEST_F(SessionTest, AFailureFoundAtTheStopIsReportedAndIsTheOutcome) {
  Build(std::make_unique<testing::FullDiskExecutableWriter>(300 + 2 + 72 + 88 + 20));
  ASSERT_TRUE(session_->Start(settings_));
  ASSERT_TRUE(testing::WaitUntil([&] { return !writer_->IsRunning(); }));
  session_->RequestStop();
  EXPECT_FALSE(session_->Poll());
  EXPECT_EQ(session_->Result(), RecordingSession::Outcome::kWriteFailed);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            "Can not continue recording!\n\nFailed to write data to the file:\n\n" + settings_.output_path +
                "\n\nMaybe the file size exceeded the quota, or an unknown error occurred during A/V encoding."
                "\n\nThere is no space left on the disk. What was recorded until then is kept in the file, which "
                "plays as it is.");
  ContainerFile file;
  EXPECT_TRUE(file.OpenPath(settings_.output_path)) << file.Error();
}

TEST_F(SessionTest, TheFollowedWindowMovesTheCaptureRectangle) {
  MovingWindow window;
  window.where = Rect{0, 0, 64, 48};
  session_->FollowWindow(&window, Rect{0, 0, 640, 480});
  ASSERT_TRUE(session_->Start(settings_));
  window.where = Rect{100, 50, 164, 98};
  EXPECT_TRUE(session_->Poll());
  EXPECT_TRUE(testing::WaitUntil([&] { return capture_.Format().capture_rect == Rect{100, 50, 164, 98}; }));
  // Gone: the rectangle stays where it was.
  window.where.reset();
  EXPECT_TRUE(session_->Poll());
  session_->RequestStop();
  EXPECT_FALSE(session_->Poll());
  EXPECT_EQ(capture_.Format().capture_rect, (Rect{100, 50, 164, 98}));
}

TEST_F(SessionTest, AFailedStartIsTheOutcomeAndUndoesTheWindowSteps) {
  settings_.output_path = dir_.File("no/such/folder/clip.exe");
  EXPECT_FALSE(session_->Start(settings_));
  EXPECT_EQ(session_->Result(), RecordingSession::Outcome::kStartFailed);
  EXPECT_EQ(hooks_.steps, (std::vector<std::string>{"starting", "stopped"}));
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_NE(messages_.shown[0].find("\n\nThe folder does not exist."), std::string::npos);
}

}  // namespace
}  // namespace kmr
