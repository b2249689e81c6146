// The mixer of several sources: samples of the same place added with their
// gains, whole blocks out in order, a source that is late or stalls.
// 10 kHz mono, blocks of 50 ms (500 samples).
#include "recorder/audio/sound_mixer.h"

#include <gtest/gtest.h>

#include <vector>

#include "recorder/audio/testing/collecting_stream.h"

namespace kmr {
namespace {

PcmFormat Mono10k() {
  PcmFormat f;
  f.channels = 1;
  f.samples_per_second = 10000;
  return f;
}

std::vector<uint8_t> Block(int16_t value, size_t frames = 500) {
  std::vector<uint8_t> b(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    b[2 * i] = static_cast<uint8_t>(value);
    b[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
  }
  return b;
}

int16_t SampleAt(const testing::CollectingStream::Block& b, size_t i) {
  return static_cast<int16_t>(b.data[2 * i] | (b.data[2 * i + 1] << 8));
}

class SoundMixerTest : public ::testing::Test {
 protected:
  SoundMixerTest() : mixer_(Mono10k(), 1000) {}
  void Send(PacketSink* in, int16_t value, uint32_t t) {
    const auto b = Block(value);
    ASSERT_TRUE(in->Put({b.data(), static_cast<uint32_t>(b.size()), t, 50}));
  }
  SoundMixer mixer_;
  testing::CollectingStream out_;
};

TEST_F(SoundMixerTest, SamplesOfTheSamePlaceAreAddedWithTheirGains) {
  PacketSink* speakers = mixer_.AddInput(100);
  PacketSink* microphone = mixer_.AddInput(50);
  mixer_.SetOutput(&out_);
  Send(speakers, 1000, 0);
  Send(speakers, 1000, 50);
  EXPECT_TRUE(out_.Blocks().empty()) << "the microphone's part is not there yet";
  Send(microphone, 200, 0);
  Send(microphone, -400, 50);
  Send(microphone, 30000, 100);
  Send(speakers, 30000, 100);
  const auto b = out_.Blocks();
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[0].time_stamp, 0u);
  EXPECT_EQ(b[1].time_stamp, 50u);
  EXPECT_EQ(b[2].time_stamp, 100u);
  EXPECT_EQ(b[0].size, 1000u);
  EXPECT_EQ(SampleAt(b[0], 0), 1100);
  EXPECT_EQ(SampleAt(b[1], 499), 800);
  EXPECT_EQ(SampleAt(b[2], 0), 32767) << "clipped, not wrapped";
}

// A source that starts later than another is silence until it begins; a
// source that stalls holds the mix back a second, then is silence, and
// what it sends late for places already mixed is left out.
TEST_F(SoundMixerTest, ALateOrStalledSourceHoldsTheMixBackASecondAtMost) {
  PacketSink* a = mixer_.AddInput(100);
  PacketSink* b = mixer_.AddInput(100);
  mixer_.SetOutput(&out_);
  Send(a, 10, 0);
  Send(b, 1, 50);  // b begins at 50 ms
  Send(a, 10, 50);
  Send(b, 1, 100);
  Send(a, 10, 100);
  auto got = out_.Blocks();
  ASSERT_EQ(got.size(), 3u) << "up to 150 ms both have sent";
  EXPECT_EQ(SampleAt(got[0], 0), 10) << "b had not begun";
  EXPECT_EQ(SampleAt(got[1], 0), 11);
  EXPECT_EQ(SampleAt(got[2], 0), 11);
  // b stalls; a goes on: the mix waits until a is a second ahead.
  for (uint32_t t = 150; t < 1150; t += 50) Send(a, 10, t);
  EXPECT_EQ(out_.Blocks().size(), 3u) << "held back";
  Send(a, 10, 1150);
  Send(a, 10, 1200);
  got = out_.Blocks();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[3].time_stamp, 150u);
  EXPECT_EQ(SampleAt(got[3], 0), 10) << "b's part is silence";
  EXPECT_EQ(SampleAt(got[4], 0), 10);
  // b's late blocks for places already mixed are left out; the next counts.
  for (uint32_t t = 150; t <= 250; t += 50) Send(b, 1, t);
  got = out_.Blocks();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[5].time_stamp, 250u);
  EXPECT_EQ(SampleAt(got[5], 0), 11);
  mixer_.Finish();
  got = out_.Blocks();
  EXPECT_EQ(got.back().time_stamp, 1200u) << "the rest of a, made whole";
  for (size_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i].time_stamp, got[i - 1].time_stamp + 50) << i;
}

TEST_F(SoundMixerTest, InputsReportTheOutputsWriter) {
  testing::RunningWriter writer;
  out_.SetWriter(&writer);
  PacketSink* a = mixer_.AddInput(100);
  mixer_.SetOutput(&out_);
  PacketSink* b = mixer_.AddInput(500);
  EXPECT_EQ(a->GetWriter(), &writer);
  EXPECT_EQ(b->GetWriter(), &writer);
  EXPECT_EQ(mixer_.Inputs(), 2u);
}

}  // namespace
}  // namespace kmr
