// Sound capture through WinMM under wine64 (a null sound device): the
// recorder thread gets whole buffers at the device's pace, stamped from
// their count, and the device closes cleanly.
#include "recorder/audio/win/winmm_audio.h"

#include <gtest/gtest.h>

#include <vector>

#include "recorder/audio/audio_recorder.h"
#include "recorder/engine/media_writer.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

class RunningWriter : public MediaWriter {
 public:
  RunningWriter() : MediaWriter("Test", "tst") {}
  ~RunningWriter() override { Close(); }
  bool Open() override { return StartWriterThread(); }
};

class CollectingStream : public MediaStream {
 public:
  bool Attach(MediaSource*, uint32_t) override { return true; }
  bool Bind(void*, uint32_t) override { return true; }
  bool WritePacket(const Packet*) override { return true; }
  bool Submit(const void*, uint32_t size, uint32_t t, uint32_t d, uint32_t) override {
    platform::MutexLock l(mu);
    sizes.push_back(size);
    stamps.push_back(t);
    durations.push_back(d);
    return true;
  }
  size_t Count() {
    platform::MutexLock l(mu);
    return sizes.size();
  }
  platform::Mutex mu;
  std::vector<uint32_t> sizes, stamps, durations;
};

TEST(WaveInDevice, TheRecorderGetsWholeBuffersStampedFromTheirCount) {
  WaveInDevice device;
  std::vector<std::string> names;
  if (!device.ListDevices(&names)) GTEST_SKIP() << "no wave-input device here";
  EXPECT_FALSE(names.empty());
  WaveInMixer mixer;
  AudioRecorder recorder(&device, &mixer);
  RunningWriter writer;
  CollectingStream stream;
  stream.SetWriter(&writer);
  ASSERT_TRUE(writer.Open());
  recorder.SetSink(&stream);
  recorder.SetChannels(2);
  recorder.SetBitsPerSample(16);
  recorder.SetSampleRate(44100);
  recorder.SetBufferSize(23040);
  ASSERT_TRUE(recorder.Start()) << recorder.Error();
  EXPECT_TRUE(testing::WaitUntil([&] { return stream.Count() >= 3; })) << "no sound came in";
  recorder.Stop();
  EXPECT_FALSE(recorder.IsRunning());
  platform::MutexLock l(stream.mu);
  ASSERT_GE(stream.sizes.size(), 3u);
  EXPECT_EQ(stream.sizes[0], 23040u);
  EXPECT_EQ(stream.stamps[1] - stream.stamps[0], 131u);
  EXPECT_EQ(stream.stamps[2] - stream.stamps[1], 130u);
  EXPECT_EQ(stream.durations[0], 131u);
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
