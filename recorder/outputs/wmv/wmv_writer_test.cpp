#include "recorder/codecs/compressing_stage.h"
#include "recorder/control/testing/frames_on_grid.h"
#include "recorder/outputs/wmv/wmv_writer.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/notify/notify.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "recorder/outputs/testing/recording_media_libraries.h"
#include "recorder/outputs/testing/scripted_compressor.h"

namespace kmr {
namespace {

using testing::FakeAudioSource;
using testing::FakeVideoSource;
using testing::RecordingWmFactory;
using testing::ScriptedCompressor;
using testing::WmLog;

std::vector<uint8_t> Bytes(const StreamHeader& h) {
  std::vector<uint8_t> out;
  ByteWriter w(&out);
  h.Write(w);
  return out;
}

class WmvWriterTest : public ::testing::Test {
 protected:
  WmvWriterTest() : writer_(std::make_unique<RecordingWmFactory>(&log_)) {
    EXPECT_TRUE(writer_.Initialize());
    writer_.SetPath("/videos/clip.wmv");
    writer_.SetTitle("");
    writer_.SetAuthor("");
    writer_.SetCopyright("");
    writer_.SetDescription("");
  }
  void AddVideo(EncodedVideoSource* source) {
    ASSERT_TRUE(video_.Attach(FormatOf(*source)));
    frames_ = std::make_unique<testing::FramesOnGrid>(source, &video_);
    video_.SetWriter(&writer_);
    ASSERT_TRUE(writer_.AddStream(&video_));
  }
  void AddAudio() {
    ASSERT_TRUE(audio_.Attach(FormatOf(audio_source_)));
    audio_.SetWriter(&writer_);
    ASSERT_TRUE(writer_.AddStream(&audio_));
  }

  // The streams outlive the writer, as in the recorder.
  WmLog log_;
  FakeAudioSource audio_source_;
  WmvVideoStream video_;
  std::unique_ptr<testing::FramesOnGrid> frames_;
  WmvAudioStream audio_;
  WmvWriter writer_;
};

TEST_F(WmvWriterTest, VideoOnlyProfileHasOneVariableRateStream) {
  FakeVideoSource source(640, 480, 32, 15);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  EXPECT_EQ(log_.profile_version, 0x90000u);
  ASSERT_EQ(log_.profile.size(), 1u);
  const WmProfileStream& p = log_.profile[0];
  EXPECT_EQ(p.major_type, kMediaTypeVideo);
  EXPECT_EQ(p.number, 1);
  EXPECT_EQ(p.bitrate, 0u);
  EXPECT_EQ(p.buffer_window, 3000u);
  EXPECT_TRUE(p.variable_bit_rate);
  EXPECT_EQ(p.rmax, 0u);
  EXPECT_EQ(p.bmax, 0u);
  EXPECT_EQ(log_.output, u"/videos/clip.wmv");
  ASSERT_TRUE(writer_.Close());
  EXPECT_EQ(writer_.FormatName(), "Advanced System File");
  EXPECT_EQ(writer_.Extension(), "asf");
}

TEST_F(WmvWriterTest, MediaTypesAreTheSeventyTwoByteRecords) {
  FakeVideoSource source(640, 480, 32, 15);
  AddVideo(&source);
  AddAudio();
  // Video: "vids", the "KMRV" subtype, 0, 1, 0, video info, no interface, 88 bytes.
  const std::vector<uint8_t> video = {
      0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  //
      0x4B, 0x4D, 0x52, 0x56, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  //
      0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,                                                              //
      0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A,  //
      0, 0, 0, 0, 88, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(video_.MediaType().header), video);
  ASSERT_EQ(video_.MediaType().format.size(), 88u);
  EXPECT_EQ(video_.MediaType().format[40], 0x2A);  // 666,666 (0x000A2C2A) per frame
  const std::vector<uint8_t> audio = {
      0x61, 0x75, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  //
      0x55, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71,  //
      0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,                                                              //
      0x81, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A,  //
      0, 0, 0, 0, 30, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(audio_.MediaType().header), audio);
  EXPECT_EQ(audio_.MediaType().format, audio_source_.WaveFormat());

  // The lossy codec's subtype follows the codec.
  FakeVideoSource lossy(64, 48, 32, 15, false);
  WmvVideoStream other;
  ASSERT_TRUE(other.Attach(FormatOf(lossy)));
  EXPECT_EQ(other.MediaType().header.subtype, FourCcGuid(FourCc('k', 'm', 'r', 'v')));
  EXPECT_EQ(other.CodecName(), u"Norvane Screen Video (Lossy)");
}

TEST_F(WmvWriterTest, EmptyTextsStillGiveFourAttributes) {
  FakeVideoSource source(64, 48, 32, 15);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  ASSERT_EQ(log_.attributes.size(), 4u);
  const char16_t* names[] = {u"Title", u"Author", u"Copyright", u"Description"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(log_.attributes[i].name, names[i]);
    EXPECT_EQ(log_.attributes[i].stream, 0);
    EXPECT_TRUE(log_.attributes[i].value.empty());
  }
  ASSERT_TRUE(writer_.Close());
  writer_.SetTitle("Demo");
  log_.attributes.clear();
  ASSERT_TRUE(writer_.Open());
  EXPECT_EQ(log_.attributes[0].value, u"Demo");
  EXPECT_EQ(log_.attributes[0].value.size(), 4u);  // no terminator
#ifndef _WIN32
  // Linux text is UTF-8 (Windows' is its code page).
  ASSERT_TRUE(writer_.Close());
  writer_.SetTitle("Caf\xC3\xA9 demo");
  writer_.SetDescription("\xF0\x9F\x8E\xAC bad:\xC3");
  log_.attributes.clear();
  ASSERT_TRUE(writer_.Open());
  EXPECT_EQ(log_.attributes[0].value, u"Caf\u00E9 demo");
  EXPECT_EQ(log_.attributes[3].value, u"\U0001F3AC bad:\uFFFD");
#endif
}

TEST_F(WmvWriterTest, CodecInformationForEachOwnStream) {
  FakeVideoSource source(64, 48, 32, 15);
  AddVideo(&source);
  AddAudio();
  ASSERT_TRUE(writer_.Open());
  ASSERT_EQ(log_.codec_info.size(), 2u);
  EXPECT_EQ(log_.codec_info[0].name, u"Norvane Screen Video (Lossless)");
  EXPECT_FALSE(log_.codec_info[0].description.empty());
  EXPECT_EQ(log_.codec_info[0].type, 1);
  EXPECT_EQ(log_.codec_info[0].info, (std::vector<uint8_t>{'K', 'M', 'R', 'V'}));
  EXPECT_EQ(log_.codec_info[1].name, u"MPEG Audio Layer-3");
  EXPECT_TRUE(log_.codec_info[1].description.empty());
  EXPECT_EQ(log_.codec_info[1].type, 0);
  EXPECT_EQ(log_.codec_info[1].info, (std::vector<uint8_t>{0x55, 0, 0, 0}));
  EXPECT_EQ(log_.profile[1].number, 2);
}

TEST_F(WmvWriterTest, CallsComeInTheRuntimesOrder) {
  FakeVideoSource source(64, 48, 32, 15);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(writer_.Close());
  const std::vector<std::string> expected = {"create-profile", "add-stream", "set-profile", "inputs-none",
                                             "output",         "codec-info", "attribute",   "attribute",
                                             "attribute",      "attribute",  "begin",       "end",
                                             "release-profile"};
  EXPECT_EQ(log_.calls, expected);
}

TEST_F(WmvWriterTest, SamplesCarryTimesInHundredNanosecondsAndCleanPoints) {
  FakeVideoSource source(64, 48, 32, 15);
  AddVideo(&source);
  AddAudio();
  ASSERT_TRUE(writer_.Open());
  source.SetFrame({1, 2}, true);
  ASSERT_TRUE(frames_->Put(0));
  source.SetFrame({3}, false);
  ASSERT_TRUE(frames_->Put(70));  // the 67 ms slot
  const uint8_t mp3[4] = {0xFF, 0xFB, 0x90, 0x00};
  ASSERT_TRUE(audio_.Put({mp3, 4, 26, 26}));
  ASSERT_TRUE(writer_.Close());
  ASSERT_EQ(log_.samples.size(), 3u);
  EXPECT_EQ(log_.samples[0].number, 1);
  EXPECT_EQ(log_.samples[0].sample_time, 0u);
  EXPECT_EQ(log_.samples[0].duration, 66u * 10000u);
  EXPECT_EQ(log_.samples[0].flags, 1u);
  EXPECT_EQ(log_.samples[0].data, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(log_.samples[1].sample_time, 67u * 10000u);
  EXPECT_EQ(log_.samples[1].send_time, 67u);
  EXPECT_EQ(log_.samples[1].flags, 0u);
  EXPECT_EQ(log_.samples[2].number, 2);
  EXPECT_EQ(log_.samples[2].sample_time, 26u * 10000u);
  EXPECT_EQ(log_.samples[2].data.size(), 4u);
}

TEST_F(WmvWriterTest, AStreamTheRuntimeRefusesFailsItsFirstSample) {
  std::atomic<int> notified{0};
  platform::CallbackNotifyTarget target([&](uint32_t) { ++notified; });
  writer_.SetNotify(&target, 2027);
  FakeVideoSource source(64, 48, 32, 15);
  AddVideo(&source);
  AddAudio();
  log_.refuse_audio_type = true;
  ASSERT_TRUE(writer_.Open());
  ASSERT_EQ(log_.profile.size(), 1u);
  const uint8_t mp3[2] = {1, 2};
  ASSERT_TRUE(audio_.Put({mp3, 2, 0, 26}));
  EXPECT_FALSE(writer_.Close());
  EXPECT_EQ(notified.load(), 1);
}

TEST(WmvWriter, AMissingRuntimeFailsOpenWithTheReason) {
  WmLog log;
  WmvWriter writer(std::make_unique<RecordingWmFactory>(&log, true));
  EXPECT_FALSE(writer.Initialize());
  writer.SetPath("/videos/clip.wmv");
  FakeVideoSource source(64, 48, 32, 15);
  WmvVideoStream video;
  ASSERT_TRUE(video.Attach(FormatOf(source)));
  writer.AddStream(&video);
  EXPECT_FALSE(writer.Open());
  EXPECT_EQ(writer.Error(), "wmvcore.dll was not found");
  EXPECT_TRUE(log.calls.empty());
}

TEST_F(WmvWriterTest, ABeginFailureLeavesNothingWriting) {
  FakeVideoSource source(64, 48, 32, 15);
  AddVideo(&source);
  log_.refuse_begin = true;
  EXPECT_FALSE(writer_.Open());
  EXPECT_FALSE(writer_.IsRunning());
  EXPECT_FALSE(writer_.Error().empty());
  EXPECT_EQ(log_.calls.back(), "release-profile");
}

TEST_F(WmvWriterTest, CompressedStreamWrapsTheCompressorsFormat) {
  ScriptedCompressor compressor(FourCc('W', 'M', 'V', '3'), 320, 240, 1, 30, 4);
  WmvVideoStream stream;
  ASSERT_TRUE(stream.Attach(FormatOf(compressor)));
  const WmMediaType& t = stream.MediaType();
  EXPECT_EQ(t.header.subtype, FourCcGuid(FourCc('W', 'M', 'V', '3')));
  EXPECT_EQ(t.header.format_type, kFormatVideoInfo);
  ASSERT_EQ(t.format.size(), 48u + 44u);
  EXPECT_EQ(t.header.format_size, 92u);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(t.format[i], 0) << i;
  // 800,000 bits a second; 333,333 (0x00051615) per frame at 30 fps.
  EXPECT_EQ(t.format[32] | (t.format[33] << 8) | (t.format[34] << 16), 800000 & 0xFFFFFF);
  EXPECT_EQ(t.format[40] | (t.format[41] << 8) | (t.format[42] << 16) | (t.format[43] << 24), 333333);
  EXPECT_EQ(t.format[48], 40);  // the output format follows in full
  EXPECT_EQ(stream.CodecType(), 1);
  EXPECT_TRUE(stream.CodecName().empty());
  EXPECT_TRUE(stream.CodecInfo().empty());
  stream.SetWriter(&writer_);
  writer_.AddStream(&stream);
  ASSERT_TRUE(writer_.Open());
  CompressingStage stage;
  stage.Begin(&compressor, &stream);
  testing::FramesOnGrid frames(&stage, stage.Timebase());
  ASSERT_TRUE(frames.PutRaw("raw", 3, 0));
  ASSERT_TRUE(frames.PutRaw("raw", 3, 40));
  ASSERT_TRUE(writer_.Close());
  ASSERT_EQ(log_.samples.size(), 2u);
  EXPECT_EQ(log_.samples[0].flags, 1u);
  EXPECT_EQ(log_.samples[1].sample_time, 33u * 10000u);
  EXPECT_EQ(log_.samples[1].duration, 33u * 10000u);
}

}  // namespace
}  // namespace kmr
