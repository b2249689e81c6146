// The sound path over the recording stand-in of the encoder library and a
// scripted device: the rate asked for is snapped once, and the encoder and
// the capture both run at the snapped rate.
#include "recorder/audio/recorder_sound.h"

#include <gtest/gtest.h>

#include "recorder/audio/testing/collecting_stream.h"
#include "recorder/audio/testing/scripted_audio.h"

namespace kmr {
namespace {

TEST(RecorderSound, TheRateIsSnappedOnceAndUsedForCodingAndCapture) {
  for (const auto& [asked, recorded] : std::vector<std::pair<uint32_t, uint32_t>>{
           {8000, 16000}, {11025, 16000}, {22050, 22050}, {44100, 44100}, {96000, 48000}, {192000, 48000}}) {
    SCOPED_TRACE(asked);
    Mp3Encoder encoder;
    ASSERT_TRUE(encoder.Load(RECORDING_LIBRARY)) << encoder.Error();
    testing::ScriptedCaptureDevice device;
    testing::ScriptedMixer mixer;
    AudioRecorder recorder(&device, &mixer);
    // The stream outlives the writer, as in the recorder: the writer frees
    // what is still queued through it.
    testing::CollectingStream stream;
    testing::RunningWriter writer;
    RecorderSound sound(&encoder, &recorder);
    sound.SetSampleRate(asked);
    EXPECT_EQ(sound.SampleRate(), recorded);
    ASSERT_TRUE(sound.Start(&writer, &stream, nullptr)) << sound.Error();
    LameConfig config;
    ASSERT_TRUE(ReadLameConfig(encoder.ConfigRecord().data(), &config));
    EXPECT_EQ(config.sample_rate, recorded);
    EXPECT_EQ(device.opened_format.samples_per_second, recorded);
    EXPECT_EQ(device.opened_bytes, encoder.GetInputBlockBytes());
    sound.Stop();
  }
}

}  // namespace
}  // namespace kmr
