// Sound put on the time line, with a scripted device: each sample's value is
// its index in the device's stream, so which samples were kept is read off
// the blocks. 10 kHz mono: ten samples a millisecond.
#include "recorder/audio/sound_placer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace kmr {
namespace {

PcmFormat TenKiloHertzMono() {
  PcmFormat f;
  f.channels = 1;
  f.samples_per_second = 10000;
  f.bits_per_sample = 16;
  return f;
}

RecordingTimeline::View StartedAt(uint32_t clock_ms, std::vector<std::pair<int64_t, int64_t>> pauses = {}) {
  RecordingTimeline::View v;
  v.started = true;
  v.start_clock_ms = clock_ms;
  v.pauses = std::move(pauses);
  return v;
}

class ScriptedSource {
 public:
  explicit ScriptedSource(SoundPlacer* placer) : placer_(placer) {}
  // frames more samples from the device, arriving at clock_ms.
  void Deliver(uint32_t frames, uint32_t clock_ms, const RecordingTimeline::View& view) {
    std::vector<uint8_t> pcm(frames * 2);
    for (uint32_t i = 0; i < frames; ++i) {
      const auto v = static_cast<uint16_t>((next_ + i) & 0x7FFF);
      pcm[2 * i] = static_cast<uint8_t>(v);
      pcm[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    next_ += frames;
    placer_->Add(pcm.data(), frames * 2, clock_ms, view, &blocks);
  }
  // Every sample of the blocks, in order.
  std::vector<int> Samples() const {
    std::vector<int> out;
    for (const auto& b : blocks) {
      for (size_t i = 0; i + 1 < b.pcm.size(); i += 2) out.push_back(b.pcm[i] | (b.pcm[i + 1] << 8));
    }
    return out;
  }
  std::vector<SoundPlacer::Block> blocks;

 private:
  SoundPlacer* placer_;
  uint64_t next_ = 0;
};

std::vector<int> Values(int from, int to) {
  std::vector<int> v;
  for (int i = from; i < to; ++i) v.push_back(i);
  return v;
}

// Start at clock 1000; a pause from 250 ms to 1250 ms after it (one second
// paused); buffers of 100 ms arriving as their last sample is taken.
TEST(SoundPlacer, APauseCutsTheSoundAtTheSampleWhereItBeganAndEnded) {
  SoundPlacer placer(TenKiloHertzMono(), 1000);  // blocks of 50 ms
  ScriptedSource device(&placer);
  const auto view = StartedAt(1000, {{250, 1250}});
  for (uint32_t k = 0; k < 20; ++k) device.Deliver(1000, 1100 + 100 * k, view);
  std::vector<int> expected = Values(0, 2500);  // up to the pause
  const std::vector<int> after = Values(12500, 20000);
  expected.insert(expected.end(), after.begin(), after.end());
  EXPECT_EQ(device.Samples(), expected);
  ASSERT_EQ(device.blocks.size(), 20u);
  for (size_t n = 0; n < device.blocks.size(); ++n) {
    EXPECT_EQ(device.blocks[n].time_ms, 50 * n);
    EXPECT_EQ(device.blocks[n].duration_ms, 50u);
  }
  EXPECT_EQ(placer.FramesCut(), 10000u);
  EXPECT_EQ(placer.FramesDropped() + placer.FramesInserted(), 0u);
}

// A pause still running cuts everything from its start; a pause inside one
// buffer cuts the middle out of it.
TEST(SoundPlacer, APauseWithinABufferAndOneNotEnded) {
  SoundPlacer placer(TenKiloHertzMono(), 600);
  ScriptedSource device(&placer);
  device.Deliver(1000, 1100, StartedAt(1000, {{30, 70}}));
  device.Deliver(1000, 1200, StartedAt(1000, {{30, 70}, {150, RecordingTimeline::View::kOpen}}));
  std::vector<int> expected = Values(0, 300);
  for (int v : Values(700, 1500)) expected.push_back(v);
  EXPECT_EQ(device.Samples(), std::vector<int>(expected.begin(), expected.begin() + 900)) << "three whole blocks";
  SoundPlacer copy = placer;
  placer.Finish(&device.blocks);
  expected.resize(1200, 0);  // the last block made whole with silence
  EXPECT_EQ(device.Samples(), expected);
  // Ended at 100 ms on the time line (the picture's end): the sound after it
  // is not kept.
  std::vector<SoundPlacer::Block> ended;
  copy.Finish(&ended, 100);
  ASSERT_EQ(ended.size(), 1u);
  std::vector<int> last;
  for (size_t i = 0; i + 1 < ended[0].pcm.size(); i += 2) last.push_back(ended[0].pcm[i] | (ended[0].pcm[i + 1] << 8));
  std::vector<int> want = Values(1300, 1400);  // 90..100 ms of the time line
  want.resize(300, 0);
  EXPECT_EQ(last, want);
}

TEST(SoundPlacer, SoundTakenBeforeTheStartIsLeftOutAndAShortLeadIsSilence) {
  {
    // The first buffer's samples were taken from 50 ms before the start.
    SoundPlacer placer(TenKiloHertzMono(), 1000);
    ScriptedSource device(&placer);
    device.Deliver(1000, 1050, StartedAt(1000));
    device.Deliver(1000, 1150, StartedAt(1000));
    EXPECT_EQ(device.Samples(), Values(500, 2000));
    EXPECT_EQ(placer.StartMs(), 0u);
  }
  {
    // The device began 50 ms after the start: 50 ms of silence first.
    SoundPlacer placer(TenKiloHertzMono(), 1000);
    ScriptedSource device(&placer);
    device.Deliver(1000, 1150, StartedAt(1000));
    device.Deliver(1000, 1250, StartedAt(1000));
    std::vector<int> expected(500, 0);
    for (int v : Values(0, 2000)) expected.push_back(v);
    EXPECT_EQ(device.Samples(), expected);
    EXPECT_EQ(placer.StartMs(), 0u);
    EXPECT_EQ(device.blocks[0].time_ms, 0u);
  }
  {
    // A device that began 1.9 s late: the sound starts there.
    SoundPlacer placer(TenKiloHertzMono(), 1000);
    ScriptedSource device(&placer);
    device.Deliver(1000, 3000, StartedAt(1000));
    EXPECT_EQ(device.Samples(), Values(0, 1000));
    EXPECT_EQ(placer.StartMs(), 1900u);
    EXPECT_EQ(device.blocks[0].time_ms, 1900u);
    EXPECT_EQ(device.blocks[1].time_ms, 1950u);
  }
  {
    // Nothing is kept before the time line starts.
    SoundPlacer placer(TenKiloHertzMono(), 1000);
    ScriptedSource device(&placer);
    device.Deliver(1000, 1100, RecordingTimeline::View{});
    EXPECT_TRUE(device.Samples().empty());
    EXPECT_FALSE(placer.Begun());
  }
}

// Buffers that arrive late by up to 40 ms, and now and then three at once,
// move no sample: the fit takes the earliest arrivals. (The first one comes
// in time: how late it was cannot be known when it is placed.)
TEST(SoundPlacer, LateAndBunchedArrivalsMoveNothing) {
  SoundPlacer placer(TenKiloHertzMono(), 1000);
  ScriptedSource device(&placer);
  const auto view = StartedAt(0);
  uint32_t seed = 12345;
  for (uint32_t k = 0; k < 600; ++k) {
    seed = seed * 1103515245u + 12345u;
    uint32_t late = k == 0 ? 0 : (seed >> 16) % 41;
    if (k % 50 == 10 || k % 50 == 11) late = 200 - 100 * (k % 50 - 10);  // k 10..12 together
    device.Deliver(1000, 100 * (k + 1) + late, view);
  }
  const auto got = device.Samples();
  ASSERT_EQ(got.size(), 600000u);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<int>(i & 0x7FFF)) << i;
  EXPECT_EQ(placer.FramesDropped() + placer.FramesInserted(), 0u);
}

// An hour of a device whose clock runs 0.5 % fast or slow: its buffers of
// 1000 samples come every 99.502 or 100.503 ms. The sound's length keeps to
// the time line's within the tolerance, as it was in the first second.
void DriftFor(double buffer_ms, bool fast) {
  SoundPlacer placer(TenKiloHertzMono(), 2304);
  std::vector<SoundPlacer::Block> blocks;
  std::vector<uint8_t> pcm(2000, 0);
  const auto view = StartedAt(0);
  // The sound's end against the time its last sample was taken (the
  // buffer's arrival): what it is after the first second, and how far it
  // strays from that later.
  double first = 0, worst = 0, last = 0;
  const int buffers = static_cast<int>(3600000 / buffer_ms);
  for (int k = 0; k < buffers; ++k) {
    const double taken = (k + 1) * buffer_ms;
    placer.Add(pcm.data(), 2000, static_cast<uint32_t>(std::llround(taken)), view, &blocks);
    blocks.clear();
    last = taken - placer.StreamFrames() / 10.0;
    if (taken < 1000) first = last;
    if (taken >= 1000) worst = std::max(worst, std::fabs(last - first));
  }
  EXPECT_LE(worst, 25.0) << "the offset strays at most that far from the first second's";
  EXPECT_LE(std::fabs(last - first), 25.0) << "after an hour";
  if (fast) {
    EXPECT_GT(placer.FramesDropped(), 170000u);  // 0.5 % of 36 million
    EXPECT_EQ(placer.FramesInserted(), 0u);
  } else {
    EXPECT_GT(placer.FramesInserted(), 170000u);
    EXPECT_EQ(placer.FramesDropped(), 0u);
  }
  std::printf("drift %s: offset after the first second %.1f ms, after an hour %.1f ms, at most %.1f ms away\n",
              fast ? "fast" : "slow", first, last, worst);
}

TEST(SoundPlacer, AFastDeviceClockLosesSamplesToStayInStep) { DriftFor(1000 / 10.05, true); }
TEST(SoundPlacer, ASlowDeviceClockGetsSilenceToStayInStep) { DriftFor(1000 / 9.95, false); }

// The time line itself: pauses leave their time out; places inside one are refused.
TEST(RecordingTimelineView, PlacesLeaveThePausesOut) {
  const auto view = StartedAt(5000, {{100, 300}, {500, RecordingTimeline::View::kOpen}});
  double at = -1;
  EXPECT_FALSE(view.Place(-0.1, &at));
  ASSERT_TRUE(view.Place(0, &at));
  EXPECT_EQ(at, 0);
  ASSERT_TRUE(view.Place(99.9, &at));
  EXPECT_DOUBLE_EQ(at, 99.9);
  EXPECT_FALSE(view.Place(100, &at));
  EXPECT_FALSE(view.Place(299.9, &at));
  ASSERT_TRUE(view.Place(300, &at));
  EXPECT_EQ(at, 100);
  EXPECT_FALSE(view.Place(500, &at));
  EXPECT_FALSE(view.Place(1e9, &at));
  EXPECT_FALSE(RecordingTimeline::View{}.Place(10, &at));
}

}  // namespace
}  // namespace kmr
