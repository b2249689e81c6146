// The MP3 encoder: rates and bit rates, the configuration record as the
// library receives it, block sizes, the wave format, loading, and (Linux)
// real MP3 frames from the encoder library over LAME.
#include "recorder/audio/mp3_encoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/library/library.h"
#include "recorder/outputs/container/container_stream.h"

namespace kmr {
namespace {

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

class RecordingLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(encoder_.Load(RECORDING_LIBRARY)) << encoder_.Error();
    // The stand-in's own view of what it was given.
    ASSERT_TRUE(probe_.Open(RECORDING_LIBRARY)) << probe_.Error();
    record_ = reinterpret_cast<const uint8_t* (*)()>(probe_.Symbol("kmrTestRecord"));
    calls_ = reinterpret_cast<const char* (*)()>(probe_.Symbol("kmrTestCalls"));
    ASSERT_NE(record_, nullptr);
    ASSERT_NE(calls_, nullptr);
  }
  Mp3Encoder encoder_;
  platform::DynamicLibrary probe_;
  const uint8_t* (*record_)() = nullptr;
  const char* (*calls_)() = nullptr;
};

TEST_F(RecordingLibrary, TheRecordReachesTheLibraryFieldByField) {
  encoder_.SetChannels(2);
  encoder_.SetSampleRate(23000);
  encoder_.SetQuality(5);
  ASSERT_TRUE(encoder_.Init());
  const uint8_t* r = record_();
  EXPECT_EQ(U32(r + 0), 256u);
  EXPECT_EQ(U32(r + 4), 1u);
  EXPECT_EQ(U32(r + 8), 331u);
  EXPECT_EQ(U32(r + 12), 22050u) << "23000 Hz snaps to 22050 Hz";
  EXPECT_EQ(U32(r + 16), 0u);
  EXPECT_EQ(U32(r + 20), 0u) << "stereo";
  EXPECT_EQ(U32(r + 24), 64u);
  EXPECT_EQ(U32(r + 28), 64u);
  EXPECT_EQ(U32(r + 32), 0xFFFFFFFFu) << "no preset";
  EXPECT_EQ(U32(r + 36), 0u) << "MPEG-2";
  EXPECT_EQ(U32(r + 68), 0u);
  EXPECT_EQ(U32(r + 84), 1u) << "no bit reservoir";
  EXPECT_EQ(U16(r + 92), 0xFA05u);
  for (int i = 94; i < 331; ++i) ASSERT_EQ(r[i], 0) << "reserved byte " << i;

  encoder_.SetChannels(1);
  encoder_.SetSampleRate(40000);
  encoder_.SetQuality(12);
  encoder_.SetVariableBitRate(true);
  ASSERT_TRUE(encoder_.Init());
  r = record_();
  EXPECT_EQ(encoder_.Quality(), 9);
  EXPECT_EQ(U32(r + 12), 44100u);
  EXPECT_EQ(U32(r + 20), 3u) << "mono";
  EXPECT_EQ(U32(r + 36), 1u) << "MPEG-1";
  EXPECT_EQ(U32(r + 24), 112u);
  EXPECT_EQ(U32(r + 28), 112u);
  EXPECT_EQ(U32(r + 68), 1u);
  EXPECT_EQ(U16(r + 92), 0xF609u);
  encoder_.SetChannels(3);
  EXPECT_FALSE(encoder_.Init()) << "only mono and stereo";
}

TEST_F(RecordingLibrary, ConstantBitRatesFollowTheTable) {
  const uint32_t rates[6] = {16000, 22050, 24000, 32000, 44100, 48000};
  const uint32_t table[6][10] = {{160, 144, 128, 112, 96, 64, 56, 48, 40, 32},
                                 {160, 144, 128, 112, 96, 64, 56, 48, 48, 48},
                                 {160, 144, 128, 112, 96, 64, 56, 56, 56, 56},
                                 {256, 224, 192, 192, 160, 128, 112, 112, 96, 80},
                                 {256, 224, 192, 192, 160, 128, 112, 112, 112, 112},
                                 {256, 224, 192, 192, 160, 128, 128, 128, 128, 128}};
  const uint32_t minimum[6] = {32, 48, 56, 80, 112, 128};
  for (int i = 0; i < 6; ++i) {
    for (int q = 0; q < 10; ++q) {
      encoder_.SetSampleRate(rates[i]);
      encoder_.SetQuality(q);
      encoder_.SetVariableBitRate(false);
      ASSERT_TRUE(encoder_.Init());
      EXPECT_EQ(encoder_.BitRate(), table[i][q]) << rates[i] << " Hz quality " << q;
      // A constant rate (the AVI stream's): the maximum is the rate and the
      // wave format's bytes per second are the rate × 125.
      EXPECT_EQ(encoder_.MaxBitRate(), table[i][q]);
      EXPECT_EQ(U32(encoder_.WaveFormat().data() + 8), table[i][q] * 125);
      encoder_.SetVariableBitRate(true);
      ASSERT_TRUE(encoder_.Init());
      EXPECT_EQ(encoder_.BitRate(), minimum[i]);
      EXPECT_EQ(encoder_.MaxBitRate(), table[i][q]);
    }
  }
}

TEST_F(RecordingLibrary, BlocksAreChunksOfTheLibrarysSizeAndTheWaveFormatSaysSo) {
  encoder_.SetChannels(2);
  encoder_.SetSampleRate(44100);
  encoder_.SetFramesPerBlock(5);
  encoder_.SetQuality(5);
  EXPECT_FALSE(encoder_.EncodeBlock(std::vector<int16_t>(11520).data())) << "not initialised";
  ASSERT_TRUE(encoder_.Init());
  EXPECT_EQ(encoder_.GetInputBlockBytes(), 23040u);
  std::vector<int16_t> pcm(11520);
  for (int c = 0; c < 5; ++c) pcm[static_cast<size_t>(c) * 2304] = static_cast<int16_t>(0x100 + c);
  ASSERT_TRUE(encoder_.EncodeBlock(pcm.data()));
  ASSERT_EQ(encoder_.OutputBytes(), 20u);
  for (int c = 0; c < 5; ++c) {
    const uint8_t* chunk = encoder_.Output() + 4 * c;
    EXPECT_EQ(chunk[0], 'C');
    EXPECT_EQ(chunk[1], c);
    EXPECT_EQ(U16(chunk + 2), 0x100 + c) << "chunk " << c << " starts 2304 samples further";
  }
  const std::vector<uint8_t> f = encoder_.WaveFormat();
  ASSERT_EQ(f.size(), 30u);
  EXPECT_EQ(U16(&f[0]), 0x55);
  EXPECT_EQ(U16(&f[2]), 2);
  EXPECT_EQ(U32(&f[4]), 44100u);
  EXPECT_EQ(U32(&f[8]), 16000u);
  EXPECT_EQ(U16(&f[12]), 1);
  EXPECT_EQ(U16(&f[16]), 12);
  EXPECT_EQ(U16(&f[18]), 1);
  EXPECT_EQ(U32(&f[20]), 2u);
  EXPECT_EQ(U16(&f[24]), 20) << "five chunks of at most four bytes";
  EXPECT_EQ(U16(&f[26]), 5);
  EXPECT_EQ(U16(&f[28]), 0);

  encoder_.Flush();
  EXPECT_FALSE(encoder_.IsInitialized());
  ASSERT_EQ(encoder_.OutputBytes(), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(encoder_.Output()), 3), "END");
  EXPECT_NE(std::string(calls_()).find("chunk 7 2304;deinit 7;close 7;"), std::string::npos) << calls_();
  EXPECT_FALSE(encoder_.EncodeBlock(pcm.data())) << "flushed";
}

// The container's audio stream takes the encoder's format.
TEST_F(RecordingLibrary, TheContainerStreamTakesTheEncodersFormat) {
  encoder_.SetSampleRate(44100);
  ASSERT_TRUE(encoder_.Init());
  ContainerAudioStream stream;
  ASSERT_TRUE(stream.Attach(FormatOf(encoder_)));
  EXPECT_EQ(stream.Header().subtype, kSubtypeMp3);
  EXPECT_EQ(stream.FormatBlock(), encoder_.WaveFormat());
  EXPECT_TRUE(stream.VariableBitRateAllowed());
}

TEST(Mp3EncoderLoading, AMissingLibraryOrEntryPointIsRefused) {
  Mp3Encoder encoder;
  EXPECT_FALSE(encoder.Load("no-such-encoder-library"));
  EXPECT_FALSE(encoder.IsLoaded());
  EXPECT_FALSE(encoder.Init()) << "a recording with sound then fails";
  EXPECT_FALSE(encoder.Load(INCOMPLETE_LIBRARY));
  EXPECT_NE(encoder.Error().find("beWriteVBRHeader"), std::string::npos) << encoder.Error();
  EXPECT_FALSE(encoder.IsLoaded());
  EXPECT_EQ(Mp3Encoder::SnapRate(23000), 22050u);
  EXPECT_EQ(Mp3Encoder::SnapRate(40000), 44100u);
  EXPECT_EQ(Mp3Encoder::SnapRate(19025), 16000u) << "the first of two equally near rates";
  EXPECT_EQ(Mp3Encoder::SnapRate(1000000), 48000u);
}

#ifdef LAME_ENC_LIBRARY
// The real encoder library: a second of a tone gives MP3 frames.
TEST(LameEncLibrary, CodesATone) {
  Mp3Encoder encoder;
  ASSERT_TRUE(encoder.Load(LAME_ENC_LIBRARY)) << encoder.Error();
  encoder.SetChannels(2);
  encoder.SetSampleRate(44100);
  encoder.SetQuality(5);
  ASSERT_TRUE(encoder.Init());
  ASSERT_EQ(encoder.GetInputBlockBytes(), 23040u) << "MPEG-1 stereo: 2304 samples a chunk";
  std::vector<uint8_t> mp3;
  std::vector<int16_t> block(11520);
  size_t t = 0;
  for (int b = 0; b < 10; ++b) {
    for (size_t i = 0; i < block.size(); i += 2, ++t) {
      block[i] = block[i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000.0 * t / 44100.0));
    }
    ASSERT_TRUE(encoder.EncodeBlock(block.data()));
    mp3.insert(mp3.end(), encoder.Output(), encoder.Output() + encoder.OutputBytes());
  }
  encoder.Flush();
  mp3.insert(mp3.end(), encoder.Output(), encoder.Output() + encoder.OutputBytes());
  ASSERT_GT(mp3.size(), 1000u);
  // A frame header: eleven set sync bits, MPEG-1, layer III.
  size_t at = 0;
  while (at + 1 < mp3.size() && !(mp3[at] == 0xFF && (mp3[at + 1] & 0xE0) == 0xE0)) ++at;
  ASSERT_LT(at + 1, mp3.size());
  EXPECT_EQ(mp3[at + 1] & 0x1E, 0x1A) << "MPEG-1 layer III";
  // 10 blocks of 0.13 s at 128 kbit/s: about 21 kB.
  EXPECT_GT(mp3.size(), 15000u);
  EXPECT_LT(mp3.size(), 30000u);
}
#endif

}  // namespace
}  // namespace kmr
