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

// The recorder on a time line of the test's: 10 kHz mono, buffers and
// blocks of 100 ms; each sample holds its index in the device's stream.
class PlacedRecorderTest : public AudioRecorderTest {
 protected:
  PlacedRecorderTest() : timeline_(&clock_) {
    recorder_.SetChannels(1);
    recorder_.SetSampleRate(10000);
    recorder_.SetBufferSize(2000);
    recorder_.SetTimeline(&timeline_);
    device_.clock = &clock_;
  }
  // The next 1000 samples, arriving at clock_ms.
  bool Deliver(uint32_t clock_ms) {
    std::vector<uint8_t> pcm(2000);
    for (int i = 0; i < 1000; ++i) {
      pcm[2 * i] = static_cast<uint8_t>(next_ + i);
      pcm[2 * i + 1] = static_cast<uint8_t>((next_ + i) >> 8);
    }
    next_ += 1000;
    return device_.Deliver(std::move(pcm), clock_ms);
  }
  static int SampleAt(const testing::CollectingStream::Block& b, size_t i) {
    return b.data[2 * i] | (b.data[2 * i + 1] << 8);
  }
  testing::FakeClock clock_;
  RecordingTimeline timeline_;
  int next_ = 0;
};

// The device runs through the pause; the sound taken during it is left out
// from the sample where the pause began to the one where it ended, and what
// came before the writer ran waits for it.
TEST_F(PlacedRecorderTest, APauseCutsTheSoundWhereItHappensAndNothingIsLost) {
  clock_.now = 1000;
  timeline_.Start();
  ASSERT_TRUE(recorder_.Start());
  ASSERT_TRUE(Deliver(1100)) << "before the writer runs";
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(Deliver(1200));
  clock_.now = 1250;
  timeline_.Pause();
  EXPECT_TRUE(recorder_.Pause()) << "the time line's owner pauses the sound";
  ASSERT_TRUE(Deliver(1300));
  for (uint32_t t = 1400; t <= 2200; t += 100) ASSERT_TRUE(Deliver(t));  // paused
  clock_.now = 2250;
  timeline_.Resume();
  EXPECT_TRUE(recorder_.Resume());
  ASSERT_TRUE(Deliver(2300));
  ASSERT_TRUE(Deliver(2400));
  recorder_.Stop();
  const auto b = stream_.Blocks();
  // 0..250 ms and 1250..1400 ms of the device's sound: four blocks.
  ASSERT_EQ(b.size(), 4u);
  for (size_t n = 0; n < b.size(); ++n) {
    EXPECT_EQ(b[n].time_stamp, 100 * n);
    EXPECT_EQ(b[n].duration, 100u);
  }
  EXPECT_EQ(SampleAt(b[0], 0), 0);
  EXPECT_EQ(SampleAt(b[1], 999), 1999);
  EXPECT_EQ(SampleAt(b[2], 499), 2499) << "the last sample before the pause";
  EXPECT_EQ(SampleAt(b[2], 500), 12500) << "the first one after it";
  EXPECT_EQ(SampleAt(b[3], 0), 13000);
  EXPECT_EQ(SampleAt(b[3], 999), 13999);
  EXPECT_EQ(recorder_.FramesCut(), 10000u);
  EXPECT_EQ(recorder_.StartOffsetMs(), 0u);
  EXPECT_EQ(device_.closes, 1);
}

// A sound server that starts the stream late: the sound starts where its
// first sample was taken, so sound and picture stay in step.
TEST_F(PlacedRecorderTest, ADeviceThatBeginsLateStartsTheSoundThere) {
  clock_.now = 1000;
  timeline_.Start();
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(recorder_.Start());
  ASSERT_TRUE(Deliver(2400));
  ASSERT_TRUE(Deliver(2500));
  recorder_.Stop();
  const auto b = stream_.Blocks();
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(recorder_.StartOffsetMs(), 1300u);
  EXPECT_EQ(b[0].time_stamp, 1300u);
  EXPECT_EQ(b[1].time_stamp, 1400u);
  EXPECT_EQ(SampleAt(b[0], 0), 0);
}

// Without a time line of its owner's, the recorder keeps one of its own.
TEST_F(AudioRecorderTest, ItsOwnTimeLineStartsWithItAndPausesWithIt) {
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(recorder_.Start());
  ASSERT_TRUE(device_.Deliver(1));
  ASSERT_TRUE(recorder_.Pause());
  EXPECT_TRUE(recorder_.IsRunning());
  EXPECT_FALSE(recorder_.IsPaused()) << "the device goes on";
  ASSERT_TRUE(recorder_.Resume());
  recorder_.Stop();
  EXPECT_FALSE(recorder_.Pause());
  EXPECT_EQ(device_.closes, 1);
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
