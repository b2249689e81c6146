// The sound decoder thread over a scripted MP3 decoder and sound output:
// interleaving, mono, quick play, pause and resume, hostile formats, and a
// stop while the output is full.
#include "player/audio/audio_decoder.h"

#include <gtest/gtest.h>

#include <atomic>

#include "shared/event.h"
#include "shared/testing/wait.h"

namespace kmr {
namespace {

// A packet [n, v] decodes to n samples of v on the left and -v on the right.
class ScriptedMp3 : public Mp3Decoder {
 public:
  bool Open(uint32_t, uint16_t, const std::vector<uint8_t>&) override {
    ++opens;
    return true;
  }
  int Decode(const uint8_t* data, uint32_t size, int16_t* left, int16_t* right, uint32_t capacity) override {
    ++decodes;
    if (data == nullptr) return 0;
    if (size >= 1 && data[0] == 0xEE) return -1;  // damaged
    if (size < 2) return 0;
    const uint32_t n = data[0] < capacity ? data[0] : capacity;
    for (uint32_t i = 0; i < n; ++i) {
      left[i] = data[1];
      right[i] = static_cast<int16_t>(-data[1]);
    }
    return static_cast<int>(n);
  }
  void Close() override {}
  std::atomic<int> opens{0}, decodes{0};
};

class ScriptedOutput : public SoundOutput {
 public:
  bool Open(uint32_t rate, uint16_t ch) override {
    open = !refuse;
    opened_rate = rate;
    opened_channels = ch;
    return open;
  }
  bool Write(const int16_t* s, uint32_t frames) override {
    if (block_writes) {
      writing.Set();
      interrupt_event.WaitForever();
      return false;
    }
    written.insert(written.end(), s, s + frames * opened_channels);
    return true;
  }
  void Pause() override {
    ++pauses;
    corked = true;
  }
  void Restart() override {
    ++restarts;
    corked = false;
  }
  void Reset() override { ++resets; }
  bool PlayedOut() override { return played_out; }
  void Interrupt() override { interrupt_event.Set(); }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }

  bool open = false, refuse = false, block_writes = false;
  bool corked = false;  // paused and not restarted since
  bool played_out = true;
  uint32_t opened_rate = 0;
  uint16_t opened_channels = 0;
  std::vector<int16_t> written;
  int pauses = 0, restarts = 0, resets = 0;
  ManualResetEvent writing, interrupt_event;
};

StreamHeader Mp3Header() {
  StreamHeader h;
  h.major_type = kMediaTypeAudio;
  h.subtype = kSubtypeMp3;
  h.format_type = kFormatWaveFormatEx;
  return h;
}

// The 30-byte MP3 wave format: channels, rate, five chunks a block.
std::vector<uint8_t> Mp3Format(uint16_t channels, uint32_t rate, uint16_t chunks = 5) {
  std::vector<uint8_t> f(30, 0);
  f[0] = 0x55;
  f[2] = static_cast<uint8_t>(channels);
  for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<uint8_t>(rate >> (8 * i));
  f[26] = static_cast<uint8_t>(chunks);
  f[27] = static_cast<uint8_t>(chunks >> 8);
  return f;
}

PlayerPacket Packet(std::vector<uint8_t> data, uint32_t t = 0) {
  PlayerPacket p;
  p.time_stamp = t;
  p.data = std::move(data);
  return p;
}

class AudioDecoderTest : public ::testing::Test {
 protected:
  AudioDecoderTest()
      : decoder_(&mp3_, &output_, platform::SystemMsClock(), platform::CreateFrameTimer()) {}
  ~AudioDecoderTest() override { decoder_.Stop(); }
  void StartWith(uint16_t channels) {
    ASSERT_TRUE(decoder_.Accept(Mp3Header()));
    ASSERT_TRUE(decoder_.Configure(Mp3Header(), Mp3Format(channels, 22050)));
    decoder_.ResetClock(platform::SystemMsClock()->NowMs());
    ASSERT_TRUE(decoder_.Start());
  }
  ScriptedMp3 mp3_;
  ScriptedOutput output_;
  AudioDecoder decoder_;
};

TEST_F(AudioDecoderTest, StereoIsInterleavedAndMonoCopied) {
  StartWith(2);
  EXPECT_EQ(output_.opened_rate, 22050u);
  EXPECT_EQ(output_.opened_channels, 2);
  EXPECT_EQ(decoder_.Lead(), 100u);
  PlayerPacket p = Packet({3, 7});
  ASSERT_TRUE(decoder_.Present(&p));
  EXPECT_EQ(output_.written, (std::vector<int16_t>{7, -7, 7, -7, 7, -7}));
  PlayerPacket empty = Packet({});
  EXPECT_TRUE(decoder_.Present(&empty));
  EXPECT_FALSE(decoder_.Present(nullptr));
  decoder_.Stop();

  output_.written.clear();
  StartWith(1);
  PlayerPacket m = Packet({2, 9});
  ASSERT_TRUE(decoder_.Present(&m));
  EXPECT_EQ(output_.written, (std::vector<int16_t>{9, 9}));
  EXPECT_EQ(mp3_.opens, 2) << "every start is a new MP3 stream";
}

TEST_F(AudioDecoderTest, QuickPlayDecodesSilentlyAndPauseActsAtOnce) {
  StartWith(2);
  decoder_.SetQuickPlay(true);
  EXPECT_EQ(output_.resets, 1) << "what was queued is dropped";
  PlayerPacket p = Packet({4, 1});
  const int decodes = mp3_.decodes;
  ASSERT_TRUE(decoder_.Present(&p));
  EXPECT_GT(mp3_.decodes, decodes) << "the decoder keeps in step";
  EXPECT_TRUE(output_.written.empty());
  ASSERT_TRUE(decoder_.Pause());
  EXPECT_EQ(output_.pauses, 1);
  EXPECT_TRUE(output_.corked);
  ASSERT_TRUE(decoder_.Resume());
  EXPECT_EQ(output_.resets, 2) << "resuming quick play starts from nothing";
  EXPECT_FALSE(output_.corked);
  decoder_.SetQuickPlay(false);
  EXPECT_FALSE(output_.corked);
  PlayerPacket q = Packet({1, 5});
  ASSERT_TRUE(decoder_.Present(&q));
  EXPECT_EQ(output_.written, (std::vector<int16_t>{5, -5})) << "sound resumes at the current packet";
}

// Every way between pause, quick play and play leaves the output playing
// once the decoder plays, and held while it is paused.
TEST_F(AudioDecoderTest, PlayingAfterPauseAndQuickPlayIsNeverSilent) {
  StartWith(2);
  // Paused, quick play, then played: the output plays.
  ASSERT_TRUE(decoder_.Pause());
  decoder_.SetQuickPlay(true);
  ASSERT_TRUE(decoder_.Resume());
  decoder_.SetQuickPlay(false);
  EXPECT_FALSE(output_.corked);
  // Quick play left while paused: held until the resume.
  ASSERT_TRUE(decoder_.Pause());
  decoder_.SetQuickPlay(true);
  decoder_.SetQuickPlay(false);
  EXPECT_TRUE(output_.corked);
  ASSERT_TRUE(decoder_.Resume());
  EXPECT_FALSE(output_.corked);
  // Quick play, paused, played, quick play ended.
  decoder_.SetQuickPlay(true);
  ASSERT_TRUE(decoder_.Pause());
  ASSERT_TRUE(decoder_.Resume());
  decoder_.SetQuickPlay(false);
  EXPECT_FALSE(output_.corked);
  PlayerPacket q = Packet({1, 7});
  ASSERT_TRUE(decoder_.Present(&q));
  EXPECT_EQ(output_.written.back(), -7);
}

// The sound still queued in the output is what the end waits for; quick
// play queued none.
TEST_F(AudioDecoderTest, TheEndWaitsForTheSoundStillQueued) {
  StartWith(2);
  output_.played_out = false;
  EXPECT_FALSE(decoder_.PlayedOut());
  output_.played_out = true;
  EXPECT_TRUE(decoder_.PlayedOut());
  output_.played_out = false;
  decoder_.SetQuickPlay(true);
  EXPECT_TRUE(decoder_.PlayedOut());
}

// The first sound after a start begins at its time on the clock: a packet
// 100 ms early is preceded by 100 ms of silence; one 50 ms late loses its
// first 50 ms. Later packets follow back to back.
TEST_F(AudioDecoderTest, TheFirstSoundBeginsAtItsTimeOnTheClock) {
  StartWith(1);  // 22050 Hz mono; the clock stands at 0
  PlayerPacket early = Packet({200, 9}, 100);
  ASSERT_TRUE(decoder_.Present(&early));
  ASSERT_EQ(output_.written.size(), 2205u + 200u);
  EXPECT_EQ(output_.written[2204], 0);
  EXPECT_EQ(output_.written[2205], 9);
  PlayerPacket next = Packet({10, 8}, 109);
  ASSERT_TRUE(decoder_.Present(&next));
  EXPECT_EQ(output_.written.size(), 2205u + 210u) << "no silence between packets";
  decoder_.Stop();

  output_.written.clear();
  decoder_.ResetClock(platform::SystemMsClock()->NowMs(), 1050);  // a seek to 1.05 s
  ASSERT_TRUE(decoder_.Start());
  // The packets from 1.0 s on: their first 50 ms (1102 samples) are past,
  // four whole packets of 255 and 82 of the fifth.
  for (uint8_t k = 1; k <= 5; ++k) {
    PlayerPacket p = Packet({255, k}, 1000 + 12 * (k - 1));
    ASSERT_TRUE(decoder_.Present(&p));
  }
  EXPECT_EQ(output_.written, std::vector<int16_t>(255 - 82, 5));
}

TEST_F(AudioDecoderTest, HostileFormatsAndDamagedSoundAreRefused) {
  StreamHeader video = Mp3Header();
  video.major_type = kMediaTypeVideo;
  EXPECT_FALSE(decoder_.Accept(video));
  EXPECT_FALSE(decoder_.Configure(Mp3Header(), std::vector<uint8_t>(29, 0)));
  EXPECT_FALSE(decoder_.Configure(Mp3Header(), Mp3Format(3, 22050)));
  EXPECT_FALSE(decoder_.Configure(Mp3Header(), Mp3Format(2, 0)));
  EXPECT_FALSE(decoder_.Configure(Mp3Header(), Mp3Format(2, 4000000000u)));
  EXPECT_FALSE(decoder_.Configure(Mp3Header(), Mp3Format(2, 44100, 0)));
  EXPECT_FALSE(decoder_.Configure(Mp3Header(), Mp3Format(2, 44100, 65535))) << "no huge buffers";
  EXPECT_FALSE(decoder_.Failure().empty());
  StartWith(2);
  PlayerPacket bad = Packet({0xEE, 0});
  EXPECT_FALSE(decoder_.Present(&bad));
  EXPECT_NE(decoder_.Failure().find("damaged"), std::string::npos);
}

TEST_F(AudioDecoderTest, NoSoundOutputFailsTheStart) {
  output_.refuse = true;
  ASSERT_TRUE(decoder_.Configure(Mp3Header(), Mp3Format(2, 44100)));
  EXPECT_FALSE(decoder_.Start());
}

// A paused output takes nothing: the thread waits in Write, and a stop
// must still end it.
TEST_F(AudioDecoderTest, AStopWakesAWriteThatWaits) {
  StartWith(2);
  output_.block_writes = true;
  auto p = std::make_unique<PlayerPacket>(Packet({2, 3}, 50));
  ASSERT_EQ(decoder_.Push(p.get()), StreamDecoder::PushResult::kTaken);
  p.release();
  ASSERT_TRUE(output_.writing.Wait(30000));
  decoder_.Stop();
  EXPECT_FALSE(decoder_.IsRunning());
}

}  // namespace
}  // namespace kmr
