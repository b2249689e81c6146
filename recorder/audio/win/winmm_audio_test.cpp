// Sound capture through WinMM under wine64 (a null sound device): the
// recorder thread gets whole buffers at the device's pace, stamped from
// their count, and the device closes cleanly.
#include "recorder/audio/win/winmm_audio.h"

#include <gtest/gtest.h>

#include <vector>

#include "recorder/audio/audio_recorder.h"
#include "recorder/audio/testing/collecting_stream.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

TEST(WaveInDevice, TheRecorderGetsWholeBuffersStampedFromTheirCount) {
  WaveInDevice device;
  std::vector<std::string> names;
  if (!device.ListDevices(&names)) GTEST_SKIP() << "no wave-input device here";
  EXPECT_FALSE(names.empty());
  WaveInMixer mixer;
  AudioRecorder recorder(&device, &mixer);
  testing::RunningWriter writer;
  testing::CollectingStream stream;
  stream.SetWriter(&writer);
  ASSERT_TRUE(writer.Open());
  recorder.SetSink(&stream);
  recorder.SetChannels(2);
  recorder.SetBitsPerSample(16);
  recorder.SetSampleRate(44100);
  recorder.SetBufferSize(23040);
  ASSERT_TRUE(recorder.Start()) << recorder.Error();
  EXPECT_TRUE(testing::WaitUntil([&] { return stream.Blocks().size() >= 3; })) << "no sound came in";
  recorder.Stop();
  EXPECT_FALSE(recorder.IsRunning());
  const auto b = stream.Blocks();
  ASSERT_GE(b.size(), 3u);
  EXPECT_EQ(b[0].size, 23040u);
  EXPECT_EQ(b[1].time_stamp - b[0].time_stamp, 131u);
  EXPECT_EQ(b[2].time_stamp - b[1].time_stamp, 130u);
  EXPECT_EQ(b[0].duration, 131u);
}

TEST(WaveInMixer, AnswersForDevicesWithoutAMixer) {
  WaveInMixer mixer;
  std::vector<std::string> names;
  std::vector<bool> selected;
  // A device number no machine has: no mixer, no inputs, no volume.
  EXPECT_FALSE(mixer.ReadInputs(999, &names, &selected));
  AudioMixer::Volume v;
  EXPECT_FALSE(mixer.ReadVolume(999, "Microphone", &v));
  EXPECT_FALSE(mixer.WriteSelection(999, {true}));
}

}  // namespace
}  // namespace kmr
