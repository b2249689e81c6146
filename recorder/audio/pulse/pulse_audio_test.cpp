// The PulseAudio capture side against a server of the test's own: the
// sources, a recording input's volume set and put back exactly, and
// buffers that arrive at the stream's pace.
#include "recorder/audio/pulse/pulse_audio.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <atomic>
#include <memory>
#include <thread>

#include "recorder/audio/audio_recorder.h"
#include "recorder/audio/input_mixer.h"
#include "recorder/audio/testing/collecting_stream.h"
#include "recorder/audio/testing/scripted_audio.h"
#include "shared/testing/wait.h"
#include "shared/testing/pulse_server.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

std::string Output(const std::string& cmd) {
  std::string out;
  if (std::FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof(buf), p) != nullptr) out += buf;
    pclose(p);
  }
  return out;
}

class PulseCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    pulse_ = std::make_unique<testing::PulseServer>(dir_.File("pulse"));
    if (!pulse_->Ready()) GTEST_SKIP() << "PulseAudio cannot be started here";
    pulse_->UseFromHere();
  }
  // The place of the null sink's monitor in the source list.
  int32_t Monitor() {
    std::vector<PulseSource> sources;
    std::string error;
    EXPECT_TRUE(ListPulseSources(&sources, &error)) << error;
    for (size_t i = 0; i < sources.size(); ++i) {
      if (sources[i].name == "kmrnull.monitor") return static_cast<int32_t>(i);
    }
    ADD_FAILURE() << "no monitor source";
    return -1;
  }
  testing::TempDir dir_;
  std::unique_ptr<testing::PulseServer> pulse_;
};

TEST_F(PulseCapture, TheMonitorIsASourceAndItsVolumeIsPutBackExactly) {
  EXPECT_EQ(DefaultMonitorSource(), "kmrnull.monitor");
  const int32_t monitor = Monitor();
  ASSERT_GE(monitor, 0);
  // An odd volume of the user's, per channel.
  ASSERT_EQ(std::system("pactl set-source-volume kmrnull.monitor 43210 51234"), 0);
  const std::string before = Output("pactl get-source-volume kmrnull.monitor");
  PulseMixer pulse;
  InputMixer mixer(&pulse);
  std::vector<std::string> inputs;
  ASSERT_TRUE(mixer.ListInputs(monitor, &inputs));
  ASSERT_EQ(inputs.size(), 1u) << "a source without ports is its own input";
  ASSERT_TRUE(mixer.Select(monitor, 0));
  ASSERT_TRUE(mixer.SetVolume(monitor, 0, 20000, 20000));
  // 20000 of 65535 on PulseAudio's 0..65536 scale.
  const std::string during = Output("pactl get-source-volume kmrnull.monitor");
  EXPECT_NE(during.find("20000 /"), std::string::npos) << during;
  ASSERT_TRUE(mixer.Restore(monitor));
  EXPECT_EQ(Output("pactl get-source-volume kmrnull.monitor"), before);
}

TEST_F(PulseCapture, BuffersComeWholeFromTheMonitor) {
  const int32_t monitor = Monitor();
  ASSERT_GE(monitor, 0);
  PulseCaptureDevice device;
  std::vector<std::string> names;
  ASSERT_TRUE(device.ListDevices(&names));
  PcmFormat format;
  format.samples_per_second = 22050;
  ASSERT_TRUE(device.Open(monitor, format, 11520, 8)) << device.Error();
  // Whole buffers, or nothing yet (the server's monitor may begin late).
  for (int whole = 0, tries = 0; whole < 3; ++tries) {
    ASSERT_LT(tries, 200) << "no sound came in";
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(device.NextBuffer(&data, &size)) << device.Error();
    if (size == 0) continue;
    EXPECT_EQ(size, 11520u);
    ++whole;
  }
  device.Close();
  EXPECT_FALSE(device.Open(names.size() + 5, format, 11520, 8)) << "no such source";
  EXPECT_NE(device.Error().find("no sound source"), std::string::npos) << device.Error();
  format.bits_per_sample = 8;
  EXPECT_FALSE(device.Open(-1, format, 11520, 8));
}

// A source that stalls (its sink suspended: it sends nothing) never holds up the
// recorder's stop: a read waits a buffer's time, then lets it look.
TEST_F(PulseCapture, AStalledSourceDoesNotHoldUpTheStop) {
  const int32_t monitor = Monitor();
  ASSERT_GE(monitor, 0);
  PulseCaptureDevice device;
  testing::ScriptedMixer mixer;
  AudioRecorder recorder(&device, &mixer);
  testing::CollectingStream stream;  // outlives the writer
  testing::RunningWriter writer;
  stream.SetWriter(&writer);
  ASSERT_TRUE(writer.Open());
  recorder.SetSink(&stream);
  recorder.SetDevice(monitor);
  recorder.SetSampleRate(22050);
  recorder.SetBufferSize(11520);
  ASSERT_EQ(std::system("pactl suspend-sink kmrnull 1"), 0);
  {
    // Stalled indeed: a read gives nothing, and comes back.
    PulseCaptureDevice alone;
    PcmFormat format;
    format.samples_per_second = 22050;
    ASSERT_TRUE(alone.Open(monitor, format, 11520, 8)) << alone.Error();
    for (int i = 0; i < 3; ++i) {
      const uint8_t* data = nullptr;
      uint32_t size = 99;
      ASSERT_TRUE(alone.NextBuffer(&data, &size)) << alone.Error();
      EXPECT_EQ(size, 0u);
    }
  }
  ASSERT_TRUE(recorder.Start()) << recorder.Error();
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    recorder.Stop();
    stopped = true;
  });
  EXPECT_TRUE(testing::WaitUntil([&] { return stopped.load(); }, std::chrono::seconds(20))) << "the stop hangs";
  if (!stopped.load()) std::system("pactl suspend-sink kmrnull 0");  // let it go
  stopper.join();
  std::system("pactl suspend-sink kmrnull 0");
}

}  // namespace
}  // namespace kmr
