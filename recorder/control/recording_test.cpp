// The frame clock, the video source thread and recording control.
#include <gtest/gtest.h>

#include <filesystem>

#include "player/container_file.h"
#include "recorder/outputs/avi/avi_writer.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/control/recording_controller.h"
#include "recorder/control/screen_video_source.h"
#include "recorder/control/testing/fake_capturer.h"
#include "recorder/outputs/testing/recording_media_libraries.h"
#include "recorder/outputs/testing/scripted_compressor.h"
#include "shared/testing/temp_dir.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

using testing::FakeOwnCodec;
using testing::FakeCapturer;
using testing::FakeClock;
using testing::GatedTimer;

TEST(FrameClock, PeriodIsIntegerDivision) {
  EXPECT_EQ(FramePeriodMs(15), 66u);
  EXPECT_EQ(FramePeriodMs(30), 33u);
  EXPECT_EQ(FramePeriodMs(7), 142u);
}

TEST(FrameClock, PausedTimeIsLeftOut) {
  FrameClock c;
  c.Start(0xFFFFFF00u);  // differences wrap in 32 bits
  EXPECT_EQ(c.Advance(0xFFFFFF00u + 66, false), 66u);
  // 10 s paused: the first step after the resume has the last stamp again.
  EXPECT_EQ(c.Advance(0xFFFFFF00u + 10066, true), 66u);
  EXPECT_EQ(c.Advance(0xFFFFFF00u + 10132, false), 132u);
  EXPECT_EQ(c.Paused(), 10000u);
}

TEST(FrameClock, TheNextGridSlotIsReckonedFromTheStart) {
  // 15 fps: slots at 0, 67, 133, 200, ...
  EXPECT_EQ(MsToNextGridSlot(0, 15), 67u);
  EXPECT_EQ(MsToNextGridSlot(66, 15), 1u);
  EXPECT_EQ(MsToNextGridSlot(67, 15), 66u);   // 67 -> 133
  EXPECT_EQ(MsToNextGridSlot(150, 15), 50u);  // a late step still aims at 200
  EXPECT_EQ(MsToNextGridSlot(999, 1), 1u);
  EXPECT_EQ(MsToNextGridSlot(0, 1000), 1u);
}

TEST(ParseFrameRate, OnlyWholeNumbersOfAtLeastOne) {
  EXPECT_EQ(ParseFrameRate("15"), 15u);
  EXPECT_EQ(ParseFrameRate("0"), 0u);
  EXPECT_EQ(ParseFrameRate("abc"), 0u);
  EXPECT_EQ(ParseFrameRate("7.5"), 0u);
  EXPECT_EQ(ParseFrameRate(""), 0u);
  EXPECT_EQ(ParseFrameRate("99999999999"), 0u);
}

// A stream that keeps the grid slots of the frames it is handed.
class StampStream : public ContainerVideoStream {
 public:
  std::vector<uint32_t> slots;
  bool WritePacket(const Packet* p) override {
    if (!p->nothing_to_write) slots.push_back(p->time_stamp);
    return true;
  }
};

class ThreadWriter : public MediaWriter {
 public:
  ThreadWriter() : MediaWriter("t", "t") {}
  ~ThreadWriter() override { Close(); }
  bool Open() override { return StartWriterThread(); }
};

class VideoSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    capture_.clock = &clock_;
    ASSERT_TRUE(capture_.Prepare(&codec_));
    auto timer = std::make_unique<GatedTimer>();
    timer_ = timer.get();
    source_ = std::make_unique<ScreenVideoSource>(&capture_, &clock_, std::move(timer));
    ASSERT_TRUE(stream_.Attach(capture_.Format()));
    stream_.SetWriter(&writer_);
    writer_.AddStream(&stream_);
    ASSERT_TRUE(source_->SetOutput(&codec_, &stream_));
    source_->SetFps(15);
  }
  void TearDown() override {
    timer_->Open();
    source_->Stop();
    writer_.Close();
  }
  FakeClock clock_;
  FakeOwnCodec codec_;
  FakeCapturer capture_;
  GatedTimer* timer_ = nullptr;
  std::unique_ptr<ScreenVideoSource> source_;
  StampStream stream_;
  ThreadWriter writer_;
};

TEST_F(VideoSourceTest, NothingIsCapturedUntilTheWriterRuns) {
  ASSERT_TRUE(source_->Start());
  timer_->WaitUntilWaiting(1);
  EXPECT_EQ(timer_->Arms(), 0);  // never armed before the first step's wait
  timer_->StepOnce();
  EXPECT_EQ(capture_.captures.load(), 0);
  EXPECT_EQ(timer_->LastArmMs(), 67u);  // the next slot of the 15 fps grid
  ASSERT_TRUE(writer_.Open());
  clock_.now += 66;
  timer_->StepOnce();
  EXPECT_EQ(capture_.captures.load(), 1);
}

TEST_F(VideoSourceTest, PauseAndResumeKeepTheTimeStampsContinuous) {
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(source_->Start());
  timer_->WaitUntilWaiting(1);  // step 1 submitted at 0
  clock_.now += 66;
  timer_->StepOnce();  // step 2 submits at 66
  ASSERT_TRUE(source_->Pause());
  clock_.now += 10000;
  timer_->FinishStep();  // step 2 ends; no step runs while paused
  const int captured = capture_.captures.load();
  ASSERT_TRUE(source_->Resume());
  timer_->WaitUntilWaiting(3);  // step 3, right after the resume
  clock_.now += 66;
  timer_->StepOnce();  // step 4
  timer_->Open();
  source_->Stop();
  writer_.Close();
  EXPECT_EQ(captured, 2);
  // Steps at 0, 66, 66 and 132 ms (the pause is not in the stamps), each on
  // the next slot; a further step may slip in before the stop.
  ASSERT_GE(stream_.slots.size(), 4u);
  EXPECT_EQ(std::vector<uint32_t>(stream_.slots.begin(), stream_.slots.begin() + 4),
            (std::vector<uint32_t>{0, 67, 133, 200}));
}

TEST_F(VideoSourceTest, ASlowStepSkipsAGridSlot) {
  ASSERT_TRUE(writer_.Open());
  capture_.capture_takes_ms = 150;  // every step takes 150 ms
  ASSERT_TRUE(source_->Start());
  timer_->WaitUntilWaiting(1);
  timer_->StepOnce();
  timer_->Open();
  source_->Stop();
  writer_.Close();
  ASSERT_GE(stream_.slots.size(), 2u);
  EXPECT_EQ(stream_.slots[0], 0u);
  EXPECT_EQ(stream_.slots[1], 133u);  // 67 is skipped
}

// A timer on the fake clock: a wait ends when the timer is due, moving the
// clock there at once (or by the wait's limit when it was never armed).
class ClockTimer : public platform::FrameTimer {
 public:
  // early_ms: the wait ends that long before the timer is due (a coarse
  // system timer or a clock read in whole milliseconds).
  explicit ClockTimer(FakeClock* clock, uint32_t early_ms = 0) : clock_(clock), early_ms_(early_ms) {}
  bool Wait(uint32_t max_ms) override {
    const uint32_t now = clock_->NowMs();
    const uint32_t until = armed_ ? due_ - std::min(early_ms_, due_ - now) : now + max_ms;
    if (until > now) clock_->now += std::min(until - now, max_ms);
    return armed_;
  }
  bool ArmRelative(uint32_t ms) override {
    armed_ = true;
    due_ = clock_->NowMs() + ms;
    return true;
  }
  bool Reset() override {
    armed_ = false;
    return true;
  }

 private:
  FakeClock* clock_;
  uint32_t early_ms_;
  bool armed_ = false;
  uint32_t due_ = 0;
};

// A source on the fake clock with a timer that comes due at once on it, run
// freely until it has submitted a number of frames.
class PacingTest : public ::testing::Test {
 protected:
  // Frames taking capture_ms each, at 15 fps, with a timer that wakes
  // early_ms before it is due; the clock's time that passed.
  uint32_t Run(uint32_t capture_ms, uint64_t frames, uint32_t early_ms = 0) {
    source_ = std::make_unique<ScreenVideoSource>(&capture_, &clock_, std::make_unique<ClockTimer>(&clock_, early_ms));
    capture_.clock = &clock_;
    capture_.capture_takes_ms = capture_ms;
    EXPECT_TRUE(capture_.Prepare(&codec_));
    EXPECT_TRUE(stream_.Attach(capture_.Format()));
    stream_.SetWriter(&writer_);
    writer_.AddStream(&stream_);
    EXPECT_TRUE(source_->SetOutput(&codec_, &stream_));
    source_->SetFps(15);
    EXPECT_TRUE(writer_.Open());
    const uint32_t start = clock_.NowMs();
    EXPECT_TRUE(source_->Start());
    EXPECT_TRUE(testing::WaitUntil([&] { return source_->FramesSubmitted() >= frames; }));
    source_->Stop();
    writer_.Close();
    return clock_.NowMs() - start;
  }
  FakeClock clock_;
  FakeOwnCodec codec_;
  FakeCapturer capture_;
  std::unique_ptr<ScreenVideoSource> source_;
  StampStream stream_;
  ThreadWriter writer_;
};

// Frames come at the grid's rate, not at whole-millisecond periods: after
// 10,000 frames at 15 fps the last slot in the file is within one slot of
// the time that really passed (66 ms periods would put it 6.7 s ahead).
TEST_F(PacingTest, TheTimeLineKeepsToRealTimeOverLongRecordings) {
  const uint32_t elapsed = Run(5, 10000);
  ASSERT_GE(stream_.slots.size(), 10000u);
  const uint32_t last = stream_.slots.back();
  EXPECT_LE(last, elapsed + 67) << "the time line ran ahead of real time";
  EXPECT_GE(last + 67 + 67, elapsed) << "the time line fell behind real time";
  EXPECT_EQ(source_->FramesDropped(), 0u);
}

// A timer that wakes a millisecond before it is due, and steps that take no
// time: no step takes the slot of the step before it, so no frame is pushed
// to a later slot and the time line does not run ahead.
TEST_F(PacingTest, ATimerThatWakesEarlyDoesNotPushFramesAhead) {
  const uint32_t elapsed = Run(0, 3000, 1);
  const uint32_t last = stream_.slots.back();
  EXPECT_LE(last, elapsed + 67) << "the time line ran ahead of real time";
  EXPECT_GE(last + 67 + 67, elapsed);
  // One frame per slot: the 3000th frame has the slot of 200 s.
  EXPECT_LE(stream_.slots[2999], 200000u + 67u);
}

// Under load the empty slots are counted for the user.
TEST_F(PacingTest, SlotsASlowMachineMissesAreCounted) {
  Run(150, 21);  // every frame takes more than two slots
  // Frames 150 ms apart on a 66.7 ms grid: one slot in every 2.25 is used.
  const uint64_t frames = source_->FramesSubmitted();
  const uint32_t last_slot = stream_.slots.back();
  const uint64_t slots_spanned = (static_cast<uint64_t>(last_slot) * 15 + 500) / 1000 + 1;
  EXPECT_EQ(source_->FramesDropped(), slots_spanned - frames);
  EXPECT_GT(source_->FramesDropped(), frames);
}

TEST_F(VideoSourceTest, ANewRecordingStartsWithAnUnarmedTimerAndNoLeftoverRectangle) {
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(source_->Start());
  timer_->WaitUntilWaiting(1);
  timer_->Open();
  source_->Stop();
  EXPECT_EQ(timer_->Resets(), 1);
  // A rectangle that arrives after the last step belongs to no recording.
  capture_.SetRect(Rect{0, 0, 64, 48});
  source_->SetRect(Rect{10, 10, 20, 20});
  ASSERT_TRUE(source_->Start());
  EXPECT_EQ(timer_->Resets(), 2);
  source_->Stop();
  EXPECT_EQ(capture_.Format().capture_rect, (Rect{0, 0, 64, 48}));
}

TEST_F(VideoSourceTest, AFailingStepEndsTheThreadAndIsReportedOnce) {
  ASSERT_TRUE(writer_.Open());
  std::vector<std::string> reports;
  source_->SetOnFailure([&](const std::string& why) { reports.push_back(why); });
  codec_.encode_ok = false;
  ASSERT_TRUE(source_->Start());
  ASSERT_TRUE(testing::WaitUntil([&] { return !source_->IsRunning(); }));
  EXPECT_FALSE(source_->IsRunning());
  EXPECT_EQ(source_->ExitCode(), WorkerThread::kExitFailed);
  EXPECT_EQ(reports.size(), 1u);
}

// Recording control with the real writer and container.
class RecordingTest : public ::testing::Test {
 protected:
  struct Messages : platform::MessageSink {
    std::vector<std::string> shown;
    void ShowStop(const std::string& text) override { shown.push_back(text); }
  };
  struct FailingAudio : SoundPath {
    bool Start(MediaWriter*, SoundStream* stream, RecordingTimeline*) override {
      given = stream;
      return false;
    }
    SoundStream* given = nullptr;
    void Stop() override { ++stops; }
    bool Pause() override { return true; }
    bool Resume() override { return true; }
    int stops = 0;
  };

  void SetUp() override {
    testing::WriteAll(dir_.File("morvin"), std::vector<uint8_t>(300, 0x4D));
    ASSERT_TRUE(writer_.SetPlayerPath(dir_.File("morvin").c_str()));
    auto timer = std::make_unique<GatedTimer>();
    timer_ = timer.get();
    capture_.clock = &clock_;
    video_ = std::make_unique<ScreenVideoSource>(&capture_, &clock_, std::move(timer));
    controller_ = std::make_unique<RecordingController>(&capture_, video_.get(), &messages_);
    controller_->SetOutput(OutputKind::kExecutable, &writer_, &stream_, &audio_stream_, false);
    settings_.output_path = dir_.File("clip.exe");
    settings_.capture_rect = Rect{0, 0, 64, 48};
    settings_.encoder = &codec_;
  }
  void TearDown() override {
    timer_->Open();
    controller_->Stop();
  }

  testing::TempDir dir_;
  FakeClock clock_;
  FakeOwnCodec codec_;
  FakeCapturer capture_;
  GatedTimer* timer_ = nullptr;
  std::unique_ptr<ScreenVideoSource> video_;
  ExecutableWriter writer_;
  ContainerVideoStream stream_;
  ContainerAudioStream audio_stream_;
  Messages messages_;
  std::unique_ptr<RecordingController> controller_;
  RecordingSettings settings_;
};

TEST_F(RecordingTest, StartFailuresShowTheirTexts) {
  timer_->Open();  // frames run freely; only the start matters here
  const std::string start = texts::kCannotStart;
  auto attempt = [&](RecordingSettings s) {
    messages_.shown.clear();
    controller_->ToggleStartStop(s);
    EXPECT_FALSE(controller_->IsRecording());
    return messages_.shown.empty() ? std::string() : messages_.shown.back();
  };
  RecordingSettings s = settings_;
  s.output_path.clear();
  EXPECT_EQ(attempt(s), start + texts::kInvalidPath);
  s = settings_;
  s.capture_rect = Rect{};
  EXPECT_EQ(attempt(s), start + texts::kEmptyRegion);
  s = settings_;
  s.fps_text = "0";
  EXPECT_EQ(attempt(s), start + texts::kBadFrameRate);
  s.fps_text = "fast";
  EXPECT_EQ(attempt(s), start + texts::kBadFrameRate);
  s = settings_;
  s.output = OutputKind::kAvi;  // AVI is not in this build
  EXPECT_EQ(attempt(s), start + texts::kFormatUnavailable);
  s = settings_;
  s.encoder = nullptr;  // no codec chosen
  EXPECT_EQ(attempt(s), start + texts::kFormatUnavailable);
  s = settings_;
  capture_.prepare_ok = false;
  EXPECT_EQ(attempt(s), start + texts::kCaptureFailed);
  capture_.failure_cause = "the lossy codec needs xvidcore.dll";  // the reason follows the text
  EXPECT_EQ(attempt(s), start + texts::kCaptureFailed + "\n\nthe lossy codec needs xvidcore.dll");
  capture_.prepare_ok = true;
  s.output_path = dir_.File("no/such/dir/clip.exe");
  EXPECT_EQ(attempt(s), start + "\n\nFailed to write data to the file:\n\n" + s.output_path +
                            "\n\nMaybe the file is in use by other applications, or the file path is invalid. "
                            "Please check.\n\nThe folder does not exist.");
  EXPECT_FALSE(video_->IsRunning());
  EXPECT_TRUE(capture_.released);
}

// An installed compressor: the compressing stream of the format takes the
// frames; the compressor starts with the recorded area's raw format (even
// sides, 32 bits, bottom-up) at the frame rate and finishes at stop; a
// compressor that refuses the frames stops the start with its text.
TEST_F(RecordingTest, AnInstalledCompressorCodesTheFramesOfItsFormatsStream) {
  timer_->Open();
  testing::AviLog log;
  AviWriter avi(std::make_unique<testing::RecordingAviLibrary>(&log));
  AviVideoStream video;
  controller_->SetOutput(OutputKind::kAvi, &avi, &video, nullptr, true);
  testing::ScriptedCompressor compressor(FourCc('F', 'M', 'P', '4'), 64, 48, 1, 25);
  RecordingSettings s = settings_;
  s.output = OutputKind::kAvi;
  s.output_path = dir_.File("clip.avi");
  s.capture_rect = Rect{0, 0, 63, 47};
  s.fps_text = "12";
  s.encoder = nullptr;
  s.compressor = &compressor;
  controller_->ToggleStartStop(s);
  ASSERT_TRUE(controller_->IsRecording()) << (messages_.shown.empty() ? "" : messages_.shown.back());
  ASSERT_EQ(compressor.started_with.size(), 40u);
  BitmapInfoHeader h;
  ByteReader r(compressor.started_with);
  h = BitmapInfoHeader::Read(r);
  EXPECT_EQ(h.width, 64);
  EXPECT_EQ(h.height, 48);  // positive: bottom-up
  EXPECT_EQ(h.bit_count, 32);
  EXPECT_EQ(h.compression, 0u);
  EXPECT_EQ(compressor.Rate(), 12u);
  EXPECT_EQ(compressor.Scale(), 1u);
  ASSERT_TRUE(testing::WaitUntil([&] { return compressor.frames >= 2; }));
  controller_->ToggleStartStop(s);
  EXPECT_FALSE(controller_->IsRecording());
  EXPECT_EQ(compressor.finished, 1);
  ASSERT_FALSE(log.streams.empty());
  EXPECT_EQ(log.streams[0].handler, FourCc('F', 'M', 'P', '4'));

  compressor.refuse_start = true;
  messages_.shown.clear();
  controller_->ToggleStartStop(s);
  EXPECT_FALSE(controller_->IsRecording());
  ASSERT_FALSE(messages_.shown.empty());
  // The capture failure text of a failed video start, with the cause after it.
  EXPECT_EQ(messages_.shown.back(), std::string(texts::kCannotStart) + texts::kCaptureFailed +
                                        "\n\nthe video compressor refused the recorded area's frames");
  s.output = OutputKind::kExecutable;  // the self-playing output has no compressing stream
  compressor.refuse_start = false;
  controller_->ToggleStartStop(s);
  EXPECT_EQ(messages_.shown.back(), std::string(texts::kCannotStart) + texts::kFormatUnavailable);
  // The controller goes back to the fixture's writer before this test's go.
  controller_->ToggleStartStop(settings_);
  ASSERT_TRUE(controller_->IsRecording());
  controller_->ToggleStartStop(settings_);
  EXPECT_EQ(controller_->ActiveWriter(), &writer_);
}

TEST_F(RecordingTest, FailingAudioStopsTheVideoAndNeverOpensTheWriter) {
  timer_->Open();
  FailingAudio audio;
  controller_->SetSoundPath(&audio);
  settings_.record_audio = true;
  controller_->ToggleStartStop(settings_);
  EXPECT_FALSE(controller_->IsRecording());
  EXPECT_EQ(audio.given, &audio_stream_) << "the output's sound stream";
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], std::string(texts::kCannotStart) + texts::kAudioFailed);
  EXPECT_FALSE(video_->IsRunning());
  EXPECT_TRUE(capture_.released);
  EXPECT_FALSE(std::filesystem::exists(settings_.output_path));
}

TEST_F(RecordingTest, PauseInTheFirstFramePeriodThenStopKeepsWhatWasRecorded) {
  controller_->ToggleStartStop(settings_);
  ASSERT_TRUE(controller_->IsRecording());
  timer_->WaitUntilWaiting(1);
  clock_.now += 66;
  timer_->StepOnce();  // a frame with the writer running
  controller_->TogglePause();
  EXPECT_TRUE(controller_->IsPaused());
  timer_->Open();
  controller_->ToggleStartStop(settings_);
  EXPECT_FALSE(controller_->IsRecording());
  EXPECT_TRUE(capture_.released);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(settings_.output_path)) << file.Error();
  PacketRecord p;
  int packets = 0;
  while (file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket) ++packets;
  EXPECT_GE(packets, 1);
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(RecordingTest, WriteFailureWhilePausedRunsTheStopSequence) {
  timer_->Open();  // only the stop sequence matters here
  controller_->ToggleStartStop(settings_);
  ASSERT_TRUE(controller_->IsRecording());
  controller_->TogglePause();
  controller_->OnWriteFailure();
  EXPECT_FALSE(controller_->IsRecording());
  EXPECT_FALSE(controller_->IsPaused());
  EXPECT_FALSE(video_->IsRunning());
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0].rfind("Can not continue recording!\n\nFailed to write data to the file:\n\n" +
                                         settings_.output_path,
                                     0),
            0u);
  // Once idle the message is ignored.
  controller_->OnWriteFailure();
  EXPECT_EQ(messages_.shown.size(), 1u);
}

}  // namespace
}  // namespace kmr
