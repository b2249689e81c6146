#include "recorder/codecs/compressing_stage.h"
#include "recorder/control/testing/frames_on_grid.h"
#include "recorder/outputs/avi/avi_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/notify/notify.h"
#include "recorder/outputs/avi/mp3_silence.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "recorder/outputs/testing/recording_media_libraries.h"
#include "recorder/outputs/testing/scripted_compressor.h"

#include "shared/byte_io.h"

namespace kmr {
namespace {

using testing::AviLog;
using testing::FakeAudioSource;
using testing::FakeVideoSource;
using testing::RecordingAviLibrary;
using testing::ScriptedCompressor;

class AviWriterTest : public ::testing::Test {
 protected:
  AviWriterTest() : writer_(std::make_unique<RecordingAviLibrary>(&log_)) {
    path_ = (std::filesystem::temp_directory_path() / ("avi_writer_test_" + std::to_string(::getpid()) + ".avi"))
                .string();
    writer_.SetPath(path_.c_str());
  }
  ~AviWriterTest() override { std::remove(path_.c_str()); }

  void AddVideo(FakeVideoSource* source) {
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
  AviLog log_;
  FakeAudioSource audio_source_;
  AviVideoStream video_;
  std::unique_ptr<testing::FramesOnGrid> frames_;
  AviAudioStream audio_;
  AviWriter writer_;
  std::string path_;
};

TEST_F(AviWriterTest, VideoStreamDescribesTheOwnCodecAtTheSourceRate) {
  FakeVideoSource source(801, 601, 8, 12);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  EXPECT_EQ(log_.mode, 4113u);
  ASSERT_EQ(log_.streams.size(), 1u);
  const AviStreamInfo& info = log_.streams[0];
  EXPECT_EQ(info.type, FourCc('v', 'i', 'd', 's'));
  EXPECT_EQ(info.handler, FourCc('K', 'M', 'R', 'V'));
  EXPECT_EQ(info.scale, 1u);
  EXPECT_EQ(info.rate, 12u);
  EXPECT_EQ(info.quality, 0xFFFFFFFFu);
  EXPECT_EQ(info.sample_size, 0u);
  EXPECT_EQ(info.frame, (Rect{0, 0, 801, 601})) << "the lossless codec keeps the size as recorded";
  // 801 bytes a row rounded to 804, times 601 rows.
  EXPECT_EQ(info.suggested_buffer_size, 804u * 601u);
  // The bitmap info header and 256 bytes of the colour table.
  const std::vector<uint8_t>& format = log_.formats[0];
  ASSERT_EQ(format.size(), 40u + 256u);
  EXPECT_EQ(LeAt(format, 0), 40u);
  EXPECT_EQ(LeAt(format, 4), 801u);
  EXPECT_EQ(LeAt(format, 8), 601u);
  EXPECT_EQ(LeAt(format, 16), FourCc('K', 'M', 'R', 'V'));
  EXPECT_EQ(LeAt(format, 20), 804u * 601u);
  EXPECT_EQ(format[40 + 1], 7);  // the captured table's second byte
  EXPECT_TRUE(writer_.Close());
}

// A writer binds only the streams of its own format: a container stream
// handed to the AVI writer is refused (it used to be cast to the AVI file),
// and nothing is written.
TEST_F(AviWriterTest, AStreamOfAnotherFormatIsRefused) {
  FakeVideoSource source(64, 48, 32, 10);
  ContainerVideoStream foreign;
  ASSERT_TRUE(foreign.Attach(FormatOf(source)));
  foreign.SetWriter(&writer_);
  ASSERT_TRUE(writer_.AddStream(&foreign));
  EXPECT_FALSE(writer_.Open());
  EXPECT_TRUE(log_.streams.empty());
  EXPECT_FALSE(writer_.IsRunning());
}

TEST_F(AviWriterTest, LossyFramesCarryTheLossyCode) {
  FakeVideoSource source(64, 48, 32, 15, false);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  EXPECT_EQ(log_.streams[0].handler, FourCc('k', 'm', 'r', 'v'));
  EXPECT_EQ(log_.formats[0].size(), 40u);
}

TEST_F(AviWriterTest, FirstFrameLandsAtIndexOneAndCollisionsMoveOn) {
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  source.SetFrame({1, 2, 3}, true);
  ASSERT_TRUE(frames_->Put(0));  // slot 0 ms: index 0, raised to 1
  source.SetFrame({4}, false);
  ASSERT_TRUE(frames_->Put(100));  // slot 100 ms: index 1, taken: 2
  source.SetFrame({}, false);
  ASSERT_TRUE(frames_->Put(200));  // nothing changed: no sample
  source.SetFrame({5}, false);
  ASSERT_TRUE(frames_->Put(1000));  // the 900 ms slot ends at 1000: index 9
  ASSERT_TRUE(writer_.Close());
  // Sample 0 is written, empty, before the first frame.
  ASSERT_EQ(log_.writes.size(), 4u);
  EXPECT_EQ(log_.writes[0].start, 0);
  EXPECT_TRUE(log_.writes[0].data.empty());
  log_.writes.erase(log_.writes.begin());
  EXPECT_EQ(log_.writes[0].start, 1);
  EXPECT_EQ(log_.writes[0].samples, 1);
  EXPECT_EQ(log_.writes[0].flags, 0x10u);
  EXPECT_EQ(log_.writes[0].data, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(log_.writes[1].start, 2);
  EXPECT_EQ(log_.writes[1].flags, 0u);
  EXPECT_EQ(log_.writes[2].start, 9);
}

TEST_F(AviWriterTest, AStillEndGetsAnEmptySampleAtTheLastSlot) {
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  source.SetFrame({1}, true);
  ASSERT_TRUE(frames_->Put(0));
  source.SetFrame({}, false);
  ASSERT_TRUE(frames_->Put(100));
  ASSERT_TRUE(frames_->Put(300));  // the 200 ms slot ends at 300
  ASSERT_TRUE(writer_.Close());
  ASSERT_EQ(log_.writes.size(), 3u);
  log_.writes.erase(log_.writes.begin());  // the empty sample 0
  EXPECT_EQ(log_.writes[1].start, 2);
  EXPECT_TRUE(log_.writes[1].data.empty());
  EXPECT_EQ(log_.writes[1].flags, 0u);
}

// The file is released once, after its streams; no record is ended, with
// or without sound (the library would index it as interleaved records).
TEST_F(AviWriterTest, StreamsThenTheFileAreReleasedOnce) {
  {
    FakeVideoSource source(64, 48, 32, 10);
    AddVideo(&source);
    ASSERT_TRUE(writer_.Open());
    ASSERT_TRUE(writer_.Close());
    EXPECT_EQ(log_.Count("release"), 1);
    writer_.ClearStreams();
  }
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  AddAudio();
  ASSERT_TRUE(writer_.Open());
  ASSERT_TRUE(writer_.Close());
  EXPECT_TRUE(writer_.Close());  // nothing more to finish
  EXPECT_EQ(log_.Count("release"), 2);
  // Streams are released before their file.
  std::lock_guard<std::mutex> lock(log_.mutex);
  const std::vector<std::string> tail(log_.calls.end() - 3, log_.calls.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"release-stream", "release-stream", "release"}));
}

TEST_F(AviWriterTest, SoundIsAppendedInBytesAtTheByteRate) {
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  AddAudio();
  ASSERT_TRUE(writer_.Open());
  const AviStreamInfo& info = log_.streams[1];
  EXPECT_EQ(info.type, FourCc('a', 'u', 'd', 's'));
  EXPECT_EQ(info.handler, 0x55u);
  EXPECT_EQ(info.scale, 1u);
  EXPECT_EQ(info.rate, 16000u);
  EXPECT_EQ(info.sample_size, 1u);
  EXPECT_EQ(info.suggested_buffer_size, 16000u);
  EXPECT_EQ(log_.formats[1], audio_source_.WaveFormat());
  // The sound began 1.5 s into the recording: silent frames coded like the
  // first block fill the 24,000 bytes before it, to within one frame
  // (72 × 32 kbit/s / 22,050 Hz = 104 bytes).
  const uint8_t block[5] = {0xFF, 0xF3, 0x40, 0xC4, 0x55};
  ASSERT_TRUE(audio_.Put({block, 5, 1500, 26}));
  ASSERT_TRUE(audio_.Put({block, 2, 1526, 26}));
  ASSERT_TRUE(writer_.Close());
  ASSERT_EQ(log_.writes.size(), 230u + 2u);
  uint32_t silence = 0;
  for (size_t i = 0; i < 230; ++i) {
    const auto& w = log_.writes[i];
    ASSERT_EQ(w.stream, 1);
    ASSERT_EQ(w.start, -1);
    ASSERT_EQ(w.data.size(), 104u);
    ASSERT_EQ(w.samples, 104);
    silence += w.samples;
  }
  EXPECT_EQ(silence, 23920u);
  EXPECT_EQ(log_.writes[0].data[2], 0x40);
  EXPECT_EQ(log_.writes[0].data[4], 0);
  EXPECT_EQ(log_.writes[230].samples, 5);
  EXPECT_EQ(log_.writes[230].data[4], 0x55);
  EXPECT_EQ(log_.writes[231].start, -1);
  EXPECT_EQ(log_.writes[231].samples, 2);
}

TEST(Mp3Silence, AFrameLikeTheGivenOneWithNothingInIt) {
  // MPEG-1, 128 kbit/s, 44.1 kHz, padded, with a check sum: 417 bytes.
  const uint8_t padded[4] = {0xFF, 0xFA, 0x92, 0x64};
  const std::vector<uint8_t> f = SilentMp3FrameLike(padded, 4);
  ASSERT_EQ(f.size(), 417u);
  EXPECT_EQ(f[1], 0xFB);  // no check sum
  EXPECT_EQ(f[2], 0x90);  // no padding
  EXPECT_EQ(f[3], 0x64);
  for (size_t i = 4; i < f.size(); ++i) ASSERT_EQ(f[i], 0) << i;
  // MPEG-2.5 at 8 kHz, 8 kbit/s: 72 bytes.
  const uint8_t low[4] = {0xFF, 0xE3, 0x18, 0xC4};
  EXPECT_EQ(SilentMp3FrameLike(low, 4).size(), 72u);
  const uint8_t id3[4] = {'I', 'D', '3', 4};
  const uint8_t layer2[4] = {0xFF, 0xFD, 0x90, 0x64};
  const uint8_t free_rate[4] = {0xFF, 0xFB, 0x00, 0x64};
  EXPECT_TRUE(SilentMp3FrameLike(id3, 4).empty());
  EXPECT_TRUE(SilentMp3FrameLike(layer2, 4).empty());
  EXPECT_TRUE(SilentMp3FrameLike(free_rate, 4).empty());
  EXPECT_TRUE(SilentMp3FrameLike(padded, 3).empty());
}

TEST_F(AviWriterTest, AnExistingFileIsDeletedFirst) {
  std::ofstream(path_) << "an older recording";
  ASSERT_TRUE(std::filesystem::exists(path_));
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  ASSERT_TRUE(writer_.Open());
  EXPECT_FALSE(std::filesystem::exists(path_));  // the stand-in library creates nothing
  EXPECT_EQ(log_.path, path_);
}

TEST_F(AviWriterTest, OpenFailuresReleaseWhatWasMadeAndSayWhy) {
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  log_.refuse_open = true;
  EXPECT_FALSE(writer_.Open());
  EXPECT_EQ(writer_.Error(), "cannot create the file");
  log_.refuse_open = false;
  log_.refuse_stream = true;
  EXPECT_FALSE(writer_.Open());
  EXPECT_FALSE(writer_.IsRunning());
  EXPECT_EQ(log_.Count("release"), 1);
  AviWriter no_path(std::make_unique<RecordingAviLibrary>(&log_));
  EXPECT_FALSE(no_path.Open());
}

TEST_F(AviWriterTest, AFailedWriteStopsTheWriterAndIsReported) {
  std::atomic<int> notified{0};
  platform::CallbackNotifyTarget target([&](uint32_t) { ++notified; });
  writer_.SetNotify(&target, 2027);
  FakeVideoSource source(64, 48, 32, 10);
  AddVideo(&source);
  log_.fail_write_from = 3;  // the empty sample 0 and the first frame go in
  ASSERT_TRUE(writer_.Open());
  source.SetFrame({1}, true);
  ASSERT_TRUE(frames_->Put(0));
  ASSERT_TRUE(frames_->Put(100));
  EXPECT_FALSE(writer_.Close());
  EXPECT_EQ(notified.load(), 1);
  // The library finished the file all the same.
  EXPECT_EQ(writer_.Error(), "the disk is full What was recorded until then is kept in the file, which plays as it is.");
}

TEST(FrameGrid, SlotsFollowScaleAndRate) {
  FrameGrid grid;
  EXPECT_FALSE(FrameTimebase::ScaleRate(1, 0).Valid());
  const FrameTimebase at30 = FrameTimebase::ScaleRate(1, 30);
  EXPECT_EQ(grid.SlotFor(at30, 0), 0u);
  EXPECT_EQ(at30.duration, 33u);
  // 33 + 33 < 100, 67 + 33 is not: the slot at 67 ms.
  EXPECT_EQ(grid.SlotFor(at30, 100), 67u);
  grid.Advance();
  const FrameTimebase ntsc = FrameTimebase::ScaleRate(1001, 30000);  // 29.97 fps
  EXPECT_EQ(grid.SlotFor(ntsc, 0), 100u);
  EXPECT_EQ(ntsc.duration, 33u);
  // The own codecs' slots last 1000 / fps ms, cut down: 66 ms at 15 fps,
  // where a compressor's last 67.
  EXPECT_EQ(FrameTimebase::Fps(15).duration, 66u);
  EXPECT_EQ(FrameTimebase::ScaleRate(1, 15).duration, 67u);
  FrameGrid own;
  EXPECT_EQ(own.SlotFor(FrameTimebase::Fps(15), 133), 67u);  // 67 + 66 is not before 133
  FrameGrid compressed;
  EXPECT_EQ(compressed.SlotFor(FrameTimebase::ScaleRate(1, 15), 134), 67u);
}

TEST_F(AviWriterTest, CompressedStreamTakesTheCompressorsFormatAndTimeLine) {
  ScriptedCompressor compressor(FourCc('X', 'V', 'I', 'D'), 320, 240, 1, 25, 8);
  AviVideoStream stream;
  ScriptedCompressor short_format(FourCc('X', 'V', 'I', 'D'), 320, 240, 1, 25);
  short_format.TruncateFormat(39);
  EXPECT_FALSE(stream.Attach(FormatOf(short_format)));
  ASSERT_TRUE(stream.Attach(FormatOf(compressor)));
  stream.SetWriter(&writer_);
  ASSERT_TRUE(writer_.AddStream(&stream));
  ASSERT_TRUE(writer_.Open());
  const AviStreamInfo& info = log_.streams[0];
  EXPECT_EQ(info.handler, FourCc('X', 'V', 'I', 'D'));
  EXPECT_EQ(info.scale, 1u);
  EXPECT_EQ(info.rate, 25u);
  EXPECT_EQ(info.suggested_buffer_size, 320u * 240u * 3u);
  EXPECT_EQ(info.frame, (Rect{0, 0, 320, 240}));
  EXPECT_EQ(log_.formats[0].size(), 48u);  // the whole output format
  CompressingStage stage;
  stage.Begin(&compressor, &stream);
  testing::FramesOnGrid frames(&stage, stage.Timebase());
  ASSERT_TRUE(frames.PutRaw("raw", 3, 0));
  ASSERT_TRUE(frames.PutRaw("raw", 3, 130));  // behind: the 120 ms slot
  // Nothing changed: nothing is compressed and the slot stays empty.
  const int compressed = compressor.frames;
  ASSERT_TRUE(frames.PutRaw(nullptr, 0, 160));
  EXPECT_EQ(compressor.frames, compressed);
  compressor.refuse = true;
  EXPECT_FALSE(frames.PutRaw("raw", 3, 200));
  ASSERT_TRUE(writer_.Close());
  ASSERT_EQ(log_.writes.size(), 4u);
  log_.writes.erase(log_.writes.begin());  // the empty sample 0
  EXPECT_EQ(log_.writes[0].start, 1);  // index 0 is raised to 1
  EXPECT_EQ(log_.writes[0].flags, 0x10u);
  EXPECT_EQ(log_.writes[1].start, 3);  // 120 ms at 25 fps
  EXPECT_EQ(log_.writes[1].flags, 0u);
  // The unchanged 160 ms slot ends the recording: an empty sample there.
  ASSERT_EQ(log_.writes.size(), 3u);
  EXPECT_EQ(log_.writes[2].start, 4);
  EXPECT_TRUE(log_.writes[2].data.empty());
}

}  // namespace
}  // namespace kmr
