// The sound recorder over a scripted device and mixer: time stamps from the
// block counter, pauses and an idle writer, the input and volume put back.
#include "recorder/audio/audio_recorder.h"

#include <gtest/gtest.h>

#include <vector>

#include "recorder/audio/testing/collecting_stream.h"
#include "recorder/audio/testing/scripted_audio.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

class AudioRecorderTest : public ::testing::Test {
 protected:
  AudioRecorderTest() : recorder_(&device_, &mixer_) {
    recorder_.SetChannels(2);
    recorder_.SetBitsPerSample(16);
    recorder_.SetSampleRate(44100);
    recorder_.SetBufferSize(23040);
    stream_.SetWriter(&writer_);
    recorder_.SetSink(&stream_);
  }
  testing::ScriptedCaptureDevice device_;
  testing::ScriptedMixer mixer_;
  testing::RunningWriter writer_;
  testing::CollectingStream stream_;
  AudioRecorder recorder_;
};

TEST_F(AudioRecorderTest, BlocksAreStampedFromTheirCount) {
  EXPECT_EQ(recorder_.TimeOfBlock(0), 0u);
  EXPECT_EQ(recorder_.TimeOfBlock(1), 131u);
  EXPECT_EQ(recorder_.TimeOfBlock(2), 261u);
  EXPECT_EQ(recorder_.GetBufferDurationMs(), 130u);
  // A whole day of blocks does not overflow.
  EXPECT_EQ(recorder_.TimeOfBlock(661500), 86400000u);
  recorder_.SetBufferSize(0);
  EXPECT_EQ(recorder_.GetBufferSize(), 176400u) << "one second";
}

TEST_F(AudioRecorderTest, APauseLeavesNoGapAndAnIdleWriterDropsData) {
  ASSERT_TRUE(recorder_.Start());
  EXPECT_EQ(device_.opened_device, -1);
  EXPECT_EQ(device_.opened_bytes, 23040u);
  EXPECT_EQ(device_.opened_format.BytesPerSecond(), 176400u);
  ASSERT_TRUE(device_.Deliver(1)) << "before the writer runs";
  // Taken from the device is not yet looked at: wait until it was dropped.
  ASSERT_TRUE(testing::WaitUntil([&] { return recorder_.BlocksDropped() == 1; }));
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(device_.Deliver(2));
  ASSERT_TRUE(device_.Deliver(3));
  ASSERT_TRUE(testing::WaitUntil([&] { return stream_.Blocks().size() == 2; }));
  ASSERT_TRUE(recorder_.Pause());
  for (int i = 0; i < 38; ++i) ASSERT_TRUE(device_.Deliver(9));  // five seconds paused
  ASSERT_TRUE(testing::WaitUntil([&] { return recorder_.BlocksDropped() == 39; }));
  ASSERT_TRUE(recorder_.Resume());
  ASSERT_TRUE(device_.Deliver(4));
  ASSERT_TRUE(testing::WaitUntil([&] { return stream_.Blocks().size() == 3; }));
  recorder_.Stop();
  const auto b = stream_.Blocks();
  ASSERT_EQ(b.size(), 3u);
  // The block that came before the writer ran is not recorded; the first
  // recorded one keeps its place after it on the time line.
  EXPECT_EQ(b[0].first_byte, 2);
  EXPECT_EQ(recorder_.StartOffsetMs(), 131u);
  EXPECT_EQ(b[0].time_stamp, 131u);
  EXPECT_EQ(b[0].duration, 131u);
  EXPECT_EQ(b[1].time_stamp, 131u + 131u);
  EXPECT_EQ(b[1].duration, 130u);
  EXPECT_EQ(b[2].first_byte, 4);
  EXPECT_EQ(b[2].time_stamp, 131u + 261u) << "the block after the pause follows the one before it";
  EXPECT_EQ(device_.closes, 1);
}

// A sound server that starts the stream late: the time line starts where
// the first sound was taken, so sound and picture stay in step.
TEST_F(AudioRecorderTest, ADeviceThatBeginsLateMovesTheTimeLine) {
  device_.start_delay_ms = 1300;
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(recorder_.Start());
  ASSERT_TRUE(device_.Deliver(1));
  ASSERT_TRUE(device_.Deliver(2));
  ASSERT_TRUE(testing::WaitUntil([&] { return stream_.Blocks().size() == 2; }));
  recorder_.Stop();
  EXPECT_EQ(stream_.Blocks()[0].time_stamp, 1300u);
  EXPECT_EQ(stream_.Blocks()[1].time_stamp, 1431u);
}

TEST_F(AudioRecorderTest, InputAndVolumeArePutBackExactly) {
  recorder_.SetDevice(0);
  recorder_.SetInput(2);
  recorder_.SetVolume(20000, 70000);
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(recorder_.Start());
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{false, false, true}));
  // 0..65535 onto the control's 0..100; the right side clamped to 65535.
  EXPECT_EQ(mixer_.volume.raw, (std::vector<uint32_t>{30, 100}));
  EXPECT_EQ(mixer_.volume_written_for, "Line In");
  ASSERT_TRUE(device_.Deliver(1));
  recorder_.Stop();
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(mixer_.volume.raw, (std::vector<uint32_t>{40, 60})) << "raw values written back unconverted";
}

TEST_F(AudioRecorderTest, OnlyTheFirstOfSeveralSelectedInputsIsPutBack) {
  mixer_.selected = {true, false, true};
  recorder_.SetDevice(1);
  recorder_.SetInput(7);  // past the end: the last input
  ASSERT_TRUE(recorder_.Start());
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{false, false, true}));
  recorder_.Stop();
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{true, false, false}));
}

TEST_F(AudioRecorderTest, NoInputSelectedBeforeMeansNoneSelectedAfter) {
  mixer_.selected = {false, false, false};
  recorder_.SetDevice(0);
  recorder_.SetInput(0);
  ASSERT_TRUE(recorder_.Start());
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{true, false, false}));
  recorder_.Stop();
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{false, false, false})) << "not the last input";
}

TEST_F(AudioRecorderTest, TheDefaultDeviceOrNoInputLeavesTheMixerAlone) {
  ASSERT_TRUE(recorder_.Start());  // device -1
  recorder_.Stop();
  recorder_.SetDevice(0);  // input -1
  ASSERT_TRUE(recorder_.Start());
  recorder_.Stop();
  EXPECT_EQ(mixer_.calls, 0);
  std::vector<std::string> inputs;
  recorder_.SetDevice(-1);
  ASSERT_TRUE(recorder_.ListInputs(&inputs));
  EXPECT_TRUE(inputs.empty());
}

TEST_F(AudioRecorderTest, AFailedStartPutsTheMixerBackAndSaysWhy) {
  recorder_.SetDevice(0);
  recorder_.SetInput(0);
  device_.refuse_open = true;
  EXPECT_FALSE(recorder_.Start());
  EXPECT_FALSE(recorder_.Error().empty());
  EXPECT_EQ(mixer_.selected, (std::vector<bool>{false, true, false}));
  EXPECT_EQ(mixer_.volume.raw, (std::vector<uint32_t>{40, 60}));
  AudioRecorder no_sink(&device_, &mixer_);
  EXPECT_FALSE(no_sink.SetSink(nullptr));
  EXPECT_FALSE(no_sink.Start());
  // A buffer that is not whole sample frames cannot be recorded.
  device_.refuse_open = false;
  recorder_.SetBufferSize(23041);
  EXPECT_FALSE(recorder_.Start());
}

TEST(SameInputName, ComparesUpToTheShorterOverAtMost64Characters) {
  EXPECT_TRUE(SameInputName("Microphone", "Microphone"));
  EXPECT_TRUE(SameInputName("Mic", "Microphone"));
  EXPECT_FALSE(SameInputName("Line In", "Microphone"));
  EXPECT_TRUE(SameInputName(std::string(64, 'a') + "x", std::string(64, 'a') + "y"));
  EXPECT_FALSE(SameInputName(std::string(63, 'a') + "x", std::string(63, 'a') + "y"));
}

}  // namespace
}  // namespace kmr
