// Reader, presentation clock and video decoding, on a virtual clock: the
// timer's waits move the clock instead of sleeping.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>

#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "player/codecs/screen_video_decoder.h"
#include "player/container_reader.h"
#include "player/frame/frame_logic.h"
#include "player/video_renderer.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "recorder/outputs/testing/fake_sources.h"
#include "shared/pixel/convert.h"
#include "shared/testing/temp_dir.h"
#include "recorder/codecs/own_codecs.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr {
namespace {

class VirtualClock : public platform::MsClock {
 public:
  uint32_t NowMs() override {
    std::lock_guard<std::mutex> lock(mu);
    return now;
  }
  void Advance(uint32_t ms) {
    std::lock_guard<std::mutex> lock(mu);
    now += ms;
  }
  std::mutex mu;
  uint32_t now = 5000;
};

// Waiting moves the virtual clock (a little real sleep keeps threads fair).
class VirtualTimer : public platform::FrameTimer {
 public:
  explicit VirtualTimer(VirtualClock* c) : clock_(c) {}
  bool Wait(uint32_t ms) override {
    clock_->Advance(std::min(ms, armed_));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return true;
  }
  bool ArmRelative(uint32_t ms) override {
    armed_ = ms;
    return true;
  }
  bool Reset() override {
    armed_ = 0;
    return true;
  }

 private:
  VirtualClock* clock_;
  uint32_t armed_ = 0;
};

struct Presented {
  uint32_t stamp;
  uint32_t clock;
};

class RecordingDecoder : public StreamDecoder {
 public:
  RecordingDecoder(VirtualClock* c, Guid major, uint32_t capacity = 50)
      : StreamDecoder(capacity, c, std::make_unique<VirtualTimer>(c)), clock_(c), major_(major) {}
  ~RecordingDecoder() override {
    Release();
    Stop();
  }
  bool Accept(const StreamHeader& h) override { return h.major_type == major_; }
  bool PlayedOut() override {
    ++played_out_asked;
    return played_out.load();
  }
  std::atomic<bool> played_out{true};
  std::atomic<int> played_out_asked{0};
  bool Present(PlayerPacket* p) override {
    std::unique_lock<std::mutex> lock(mu);
    if (static_cast<int>(shown.size()) == fail_at) {
      SetFailure("cannot present the packet at " + std::to_string(p->time_stamp) + " ms");
      return false;
    }
    // A test can hold presentation at a given frame.
    if (static_cast<int>(shown.size()) == gate) {
      at_gate = true;
      cv.notify_all();
      cv.wait(lock, [this] { return gate < 0; });
    }
    shown.push_back({p->time_stamp, clock_->NowMs()});
    return true;
  }
  void HoldAt(int frame) {
    std::lock_guard<std::mutex> lock(mu);
    gate = frame;
  }
  bool WaitAtGate() {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::seconds(5), [this] { return at_gate; });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mu);
      gate = -1;
    }
    cv.notify_all();
  }
  std::condition_variable cv;
  int fail_at = -1;
  int gate = -1;
  bool at_gate = false;
  std::vector<Presented> Shown() {
    std::lock_guard<std::mutex> lock(mu);
    return shown;
  }
  std::mutex mu;
  std::vector<Presented> shown;

 private:
  VirtualClock* clock_;
  Guid major_;
};

// A stand-alone recording being written: a video stream from a source and,
// when asked, an MP3 stream nobody decodes here.
struct TestRecordingWriter {
  TestRecordingWriter(const std::string& path, EncodedVideoSource* source, bool with_audio) : source(source) {
    writer.SetPath(path.c_str());
    video.Attach(FormatOf(*source));
    video.SetWriter(&writer);
    writer.AddStream(&video);
    if (with_audio) {
      audio.Attach(FormatOf(audio_format));
      audio.SetWriter(&writer);
      writer.AddStream(&audio);
    }
    EXPECT_TRUE(writer.Open());
  }
  EncodedVideoSource* source;
  // Frame n at n × 100 ms, and a sound packet with it.
  void Submit(uint32_t n, bool with_audio) {
    EXPECT_TRUE(video.Put(EncodedFrame(*source, FrameGrid::SlotTime(n, 10), 1000 / 10, n)));
    if (with_audio) {
      const uint8_t mp3[2] = {0xFF, 0xFB};
      audio.Put({mp3, 2, n * 100, 100});
    }
  }
  StandaloneContainerWriter writer;
  ContainerVideoStream video;
  testing::FakeAudioSource audio_format;
  ContainerAudioStream audio;
};

// A stand-alone recording: video frames every 100 ms (10 fps), and optionally
// packets for a stream id nobody describes.
std::string MakeRecording(const testing::TempDir& dir, int frames, bool with_audio) {
  const std::string path = dir.File("clip.kmr");
  OfflineSource source(32, 16, 32, 10);
  TestRecordingWriter w(path, &source, with_audio);
  std::vector<uint8_t> raw(source.RawFrameBytes());
  for (int i = 0; i < frames; ++i) {
    raw[static_cast<size_t>(i) * 4 % raw.size()] ^= 0xFF;  // every frame changes
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    w.Submit(static_cast<uint32_t>(i), with_audio);
  }
  w.writer.Close();
  return path;
}

template <typename Pred>
bool WaitUntil(Pred p, int ms = 5000) {
  for (int i = 0; i < ms; ++i) {
    if (p()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

class PlaybackTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  VirtualClock clock_;
};

TEST_F(PlaybackTest, VideoOnlyRecordingPlaysEveryFrameOnTime) {
  const std::string path = MakeRecording(dir_, 20, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo), audio(&clock_, kMediaTypeAudio);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.AddDecoder(&audio);
  reader.SetSource(path);
  ASSERT_TRUE(reader.Start()) << reader.Error();
  EXPECT_EQ(reader.GetDuration(), 2000u);
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
  reader.Stop();
  const auto shown = video.Shown();
  ASSERT_EQ(shown.size(), 20u);  // the last frame too
  for (const auto& s : shown) {
    EXPECT_GE(s.clock - 5000, s.stamp);
    EXPECT_LE(s.clock - 5000, s.stamp + 100) << s.stamp;
  }
  EXPECT_TRUE(audio.Shown().empty());
  EXPECT_FALSE(audio.IsRunning());
}

// Playback ends, and loops, only once every decoder has played out what it
// was given (sound still queued in the output would be cut off).
TEST_F(PlaybackTest, TheEndWaitsUntilEveryDecoderHasPlayedOut) {
  const std::string path = MakeRecording(dir_, 5, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  video.played_out = false;
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.SetSource(path);
  ASSERT_TRUE(reader.Start()) << reader.Error();
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() == 5u && video.played_out_asked.load() >= 3; }));
  EXPECT_TRUE(reader.IsRunning()) << "the end waits";
  EXPECT_TRUE(video.IsRunning());
  video.played_out = true;
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
  reader.Stop();
  EXPECT_EQ(video.Shown().size(), 5u);
}

TEST_F(PlaybackTest, QuickPlayPresentsAtOnceAndPlayGoesOnFromThere) {
  const std::string path = MakeRecording(dir_, 30, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.SetSource(path);
  reader.SetQuickPlay(true);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() >= 10; }));
  reader.SetQuickPlay(false);
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
  reader.Stop();
  const auto shown = video.Shown();
  ASSERT_EQ(shown.size(), 30u);
  // The first frames came without waiting; the clock then went on from the
  // position reached, so the last frame is due well before 3 s of clock.
  EXPECT_LT(shown[5].clock - 5000, 100u);
  EXPECT_LT(shown.back().clock - 5000, shown.back().stamp);
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_GE(shown[i].clock, shown[i - 1].clock);
}

TEST_F(PlaybackTest, PauseHoldsThePositionAndDelaysTheNextFrame) {
  const std::string path = MakeRecording(dir_, 20, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.SetSource(path);
  video.HoldAt(5);  // the sixth frame waits until the pause is in place
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(video.WaitAtGate());
  ASSERT_TRUE(reader.Pause());
  video.Release();  // the step under way presents its frame, then the pause holds
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() == 6; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const size_t before = video.Shown().size();
  ASSERT_EQ(before, 6u);
  const uint32_t position = reader.GetPosition();
  clock_.Advance(5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(reader.GetPosition(), position);
  EXPECT_EQ(video.Shown().size(), before);
  ASSERT_TRUE(reader.Resume());
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
  reader.Stop();
  const auto shown = video.Shown();
  ASSERT_EQ(shown.size(), 20u);
  // After the pause frames keep their spacing: the 5 s are not made up for.
  const auto& next = shown[before];
  EXPECT_GE(next.clock - shown[before - 1].clock, 5000u);
  EXPECT_LE(shown.back().clock - next.clock, (shown.back().stamp - next.stamp) + 200);
}

TEST_F(PlaybackTest, LoopStartsAgainFromTheFirstPacket) {
  const std::string path = MakeRecording(dir_, 5, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.SetSource(path);
  reader.SetLoop(true);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() >= 12; }));
  reader.SetLoop(false);
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
  reader.Stop();
  const auto shown = video.Shown();
  EXPECT_EQ(shown[5].stamp, 0u);
  EXPECT_EQ(shown[10].stamp, 0u);
}

TEST_F(PlaybackTest, PacketsOfStreamsWithoutDecoderAreSkippedAndFullQueuesRetried) {
  const std::string path = MakeRecording(dir_, 12, true);
  RecordingDecoder video(&clock_, kMediaTypeVideo, /*capacity=*/2);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);  // nobody takes the audio stream
  reader.SetSource(path);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }, 10000));
  reader.Stop();
  EXPECT_EQ(video.Shown().size(), 12u);
}

// A decoder that fails on a packet stops; the reader drops its stream (it no
// longer pushes into a queue nobody empties), the other streams play to the
// end, and the reader says what went wrong.
TEST_F(PlaybackTest, AStreamWhoseDecoderFailsIsDroppedAndTheOthersPlayOn) {
  const std::string path = MakeRecording(dir_, 30, true);
  RecordingDecoder video(&clock_, kMediaTypeVideo, /*capacity=*/2);
  RecordingDecoder audio(&clock_, kMediaTypeAudio, /*capacity=*/2);
  video.fail_at = 3;
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.AddDecoder(&audio);
  reader.SetSource(path);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }, 30000));
  reader.Stop();
  EXPECT_EQ(video.Shown().size(), 3u);
  EXPECT_EQ(audio.Shown().size(), 30u);
  EXPECT_EQ(reader.Error(), "cannot present the packet at 300 ms");
}

// Damaged time fields end playback with a reason instead of holding a
// decoder for as long as they say.
TEST_F(PlaybackTest, TimeStampsPastTheEndOrGoingBackAreDamage) {
  const std::string good = MakeRecording(dir_, 5, false);
  auto bytes = testing::ReadAll(good);
  // Packets of 32x16 frames are small; find the third record by walking.
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(good));
  PacketRecord p;
  std::vector<uint64_t> offsets;
  for (uint64_t at = file.Position(); file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket; at = file.Position()) {
    offsets.push_back(at);
  }
  ASSERT_EQ(offsets.size(), 5u);
  for (const auto& [stamp, what] : std::vector<std::pair<uint32_t, std::string>>{
           {0xFFFFFFFFu, "lies past the end"}, {50u, "go back from 100 to 50 ms"}}) {
    auto damaged = bytes;
    StoreU32(&damaged[offsets[2] + 2], stamp);
    const std::string path = dir_.File("damaged.kmr");
    testing::WriteAll(path, damaged);
    RecordingDecoder video(&clock_, kMediaTypeVideo);
    ContainerReader reader(&clock_);
    reader.AddDecoder(&video);
    reader.SetSource(path);
    ASSERT_TRUE(reader.Start());
    ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }, 30000));
    reader.Stop();
    EXPECT_EQ(video.Shown().size(), 2u);
    EXPECT_NE(reader.Error().find(what), std::string::npos) << reader.Error();
  }
}

// A hostile format is refused when playback starts, with the reason, before
// the decoder allocates anything for it.
TEST_F(PlaybackTest, AHostileVideoFormatIsRefusedAtStart) {
  const std::string good = MakeRecording(dir_, 2, false);
  const auto bytes = testing::ReadAll(good);
  const size_t bitmap = 2 + 72 + 48;
  for (const auto& [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{
           {30000, 30000}, {32, 0x80000000u}, {0, 16}}) {
    auto hostile = bytes;
    StoreU32(&hostile[bitmap + 4], width);
    StoreU32(&hostile[bitmap + 8], height);
    const std::string path = dir_.File("hostile.kmr");
    testing::WriteAll(path, hostile);
    VideoRenderer video(&clock_, std::make_unique<VirtualTimer>(&clock_));
    ContainerReader reader(&clock_);
    reader.AddDecoder(&video);
    reader.SetSource(path);
    EXPECT_FALSE(reader.Start());
    EXPECT_NE(reader.Error().find("cannot be played"), std::string::npos) << reader.Error();
    EXPECT_EQ(video.FrameWidth(), 0);
  }
}

TEST_F(PlaybackTest, ALaggingDecoderJumpsToTheMasterPosition) {
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  video.ResetClock(clock_.NowMs());
  ASSERT_TRUE(video.Start());
  // Another decoder has already reached 1 s.
  RecordingDecoder other(&clock_, kMediaTypeAudio);
  other.ResetClock(clock_.NowMs());
  ASSERT_TRUE(other.Start());
  other.SetQuickPlay(true);
  auto* far = new PlayerPacket{1000, 100, 0, {}};
  ASSERT_EQ(other.Push(far), StreamDecoder::PushResult::kTaken);
  ASSERT_TRUE(WaitUntil([&] { return other.Shown().size() == 1; }));
  for (uint32_t t : {200u, 400u, 600u}) ASSERT_EQ(video.Push(new PlayerPacket{t, 100, 0, {}}), StreamDecoder::PushResult::kTaken);
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() == 3; }));
  const auto shown = video.Shown();
  EXPECT_EQ(shown[2].clock, shown[0].clock);  // late frames back to back
  EXPECT_GE(video.Position(), 1000u);
  video.Stop();
  other.Stop();
}

TEST_F(PlaybackTest, ReaderRefusesWhatIsNotARecording) {
  testing::WriteAll(dir_.File("junk"), std::vector<uint8_t>(100, 1));
  ContainerReader reader(&clock_);
  reader.SetSource(dir_.File("junk"));
  EXPECT_FALSE(reader.Start());
  EXPECT_NE(reader.Error().find("not a recording"), std::string::npos);
}

// GDI draws the picture from the header the decoder gives: an 8-bit frame
// brings its colour table (never a header that only claims one), a 5-6-5
// frame its masks with bit fields, a 5-5-5 frame plain 16-bit pixels.
// A 64 × 48 recording at 10 fps whose every frame differs (a block moves,
// the background shifts), in an own codec; key_interval: the lossless
// codec's bytes between key frames (0: only the first frame is a key frame).
std::string MakeSeekRecording(const testing::TempDir& dir, const char* codec, uint64_t key_interval,
                              bool with_audio) {
  const std::string path = dir.File(std::string("seek-") + codec + ".kmr");
  OfflineSource source(64, 48, 32, 10, FindOwnCodec(codec));
  EXPECT_TRUE(source.Ok()) << source.Error();
  source.SetKeyInterval(key_interval);
  TestRecordingWriter w(path, &source, with_audio);
  std::vector<uint8_t> raw(source.RawFrameBytes());
  for (uint32_t i = 0; i < 40; ++i) {
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) {
        uint8_t* p = &raw[(static_cast<size_t>(y) * 64 + x) * 4];
        const bool block = x >= static_cast<int>(i) && x < static_cast<int>(i) + 12 && y >= 10 && y < 30;
        p[0] = block ? 250 : static_cast<uint8_t>(x * 3 + i * 5);
        p[1] = block ? 20 : static_cast<uint8_t>(y * 4);
        p[2] = static_cast<uint8_t>(i * 6);
        p[3] = 0;
      }
    }
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    w.Submit(i, with_audio);
  }
  w.writer.Close();
  return path;
}

// The picture a straight playback shows at ms: every video packet stamped up
// to ms decoded in order.
std::vector<uint8_t> PictureAt(const std::string& path, uint32_t ms) {
  ContainerFile file;
  EXPECT_TRUE(file.OpenPath(path)) << file.Error();
  ScreenVideoDecoder decoder;
  VideoFormat format;
  EXPECT_TRUE(VideoFormat::Parse(file.Streams()[0].format, &format));
  EXPECT_TRUE(decoder.SetFormat(file.Streams()[0].format.data() + 48, file.Streams()[0].format.size() - 48));
  PacketRecord p;
  while (file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket) {
    if (p.stream_id != 0) continue;
    if (p.time_stamp > ms) break;
    EXPECT_TRUE(decoder.Decode(p.payload.data(), p.payload.size())) << decoder.Error();
  }
  const PlaneView* pic = decoder.Picture();
  return std::vector<uint8_t>(pic->data, pic->data + static_cast<size_t>(pic->stride) * pic->height);
}

std::vector<uint8_t> Shown(VideoRenderer& video) {
  video.Decoder().LockDecoder();
  const PlaneView* pic = video.Decoder().Picture();
  std::vector<uint8_t> out(pic->data, pic->data + static_cast<size_t>(pic->stride) * pic->height);
  video.Decoder().UnlockDecoder();
  return out;
}

// Counts the repaints a seek asks for.
class CountingView : public VideoView {
 public:
  bool Repaint(uint32_t) override {
    ++repaints;
    return true;
  }
  std::atomic<int> repaints{0};
};

// Paused playback moved to a time shows exactly what a straight playback
// shows there, reads that position and stays paused, for the lossless codec
// with one key frame or many, and for the lossy one.
TEST_F(PlaybackTest, ASeekShowsThePictureOfThatTimeAndKeepsThePause) {
  struct Case {
    const char* codec;
    uint64_t key_interval;
  };
  for (const Case& c : {Case{"lossless", 0}, Case{"lossless", 4000}, Case{"lossy", 0}}) {
    SCOPED_TRACE(std::string(c.codec) + " key interval " + std::to_string(c.key_interval));
    std::string missing;
    if (!FindOwnCodec(c.codec)->available(&missing)) continue;  // Windows without xvidcore.dll
    const std::string path = MakeSeekRecording(dir_, c.codec, c.key_interval, false);
    VideoRenderer video(&clock_, std::make_unique<VirtualTimer>(&clock_));
    CountingView view;
    video.SetView(&view);
    ContainerReader reader(&clock_);
    reader.AddDecoder(&video);
    reader.SetSource(path);
    ASSERT_TRUE(reader.Start()) << reader.Error();
    if (c.key_interval != 0) {
      EXPECT_GT(reader.KeyFrames(), 3u) << "the index holds the later key frames";
    } else {
      EXPECT_LE(reader.KeyFrames(), 1u);
    }
    ASSERT_TRUE(reader.Pause());
    for (uint32_t target : {2550u, 700u, 3900u, 0u, 1300u}) {
      SCOPED_TRACE("seek to " + std::to_string(target));
      const int repaints = view.repaints.load();
      ASSERT_TRUE(reader.Seek(target)) << reader.Error();
      EXPECT_TRUE(reader.IsPaused());
      EXPECT_EQ(reader.GetPosition(), target);
      EXPECT_GT(view.repaints.load(), repaints) << "the view shows the new picture";
      EXPECT_TRUE(Shown(video) == PictureAt(path, target));
    }
    // Playing on from a seek shows the following frames up to the last one.
    ASSERT_TRUE(reader.Seek(3500));
    ASSERT_TRUE(reader.Resume());
    ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
    EXPECT_TRUE(Shown(video) == PictureAt(path, 3900));
    // After the end, a seek plays again from there.
    ASSERT_TRUE(reader.Seek(3000));
    EXPECT_TRUE(reader.IsRunning());
    ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
    EXPECT_TRUE(Shown(video) == PictureAt(path, 3900));
    EXPECT_EQ(reader.Error(), "");
    reader.Stop();
  }
}

// A seek in quick play goes on quickly from the target; with loop on,
// playback reaches the end from the target and starts again at 0.
TEST_F(PlaybackTest, SeeksDuringQuickPlayAndLoop) {
  const std::string path = MakeSeekRecording(dir_, "lossless", 0, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.SetSource(path);
  reader.SetQuickPlay(true);
  reader.SetLoop(true);
  video.HoldAt(2);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(video.WaitAtGate());
  ASSERT_TRUE(reader.Pause());
  video.Release();
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() == 3; }));
  ASSERT_TRUE(reader.Seek(3000));
  EXPECT_TRUE(reader.GetQuickPlay());
  ASSERT_TRUE(reader.Resume());
  // From 3000 on to the end, then 0 again.
  ASSERT_TRUE(WaitUntil([&] { return video.Shown().size() > 3 + 10 + 1; }));
  reader.SetLoop(false);
  reader.Stop();
  const auto shown = video.Shown();
  EXPECT_EQ(shown[3].stamp, 3000u);
  for (size_t i = 4; i < 13; ++i) EXPECT_EQ(shown[i].stamp, shown[i - 1].stamp + 100) << i;
  EXPECT_EQ(shown[13].stamp, 0u) << "the loop starts again at the beginning";
}

// Sound goes on from the first packet at or after the target; what lies
// between the first packet and the target is never played.
TEST_F(PlaybackTest, ASeekResumesSoundAtTheTarget) {
  const std::string path = MakeSeekRecording(dir_, "lossless", 0, true);
  RecordingDecoder video(&clock_, kMediaTypeVideo), audio(&clock_, kMediaTypeAudio);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.AddDecoder(&audio);
  reader.SetSource(path);
  video.HoldAt(0);
  audio.HoldAt(0);
  ASSERT_TRUE(reader.Start());
  ASSERT_TRUE(video.WaitAtGate());
  ASSERT_TRUE(audio.WaitAtGate());
  ASSERT_TRUE(reader.Pause());  // each decoder shows its first packet, then holds
  video.Release();
  audio.Release();
  ASSERT_TRUE(WaitUntil([&] { return audio.Shown().size() == 1 && video.Shown().size() == 1; }));
  ASSERT_TRUE(reader.Seek(2000));
  ASSERT_TRUE(reader.Resume());
  ASSERT_TRUE(WaitUntil([&] { return !reader.IsRunning(); }));
  reader.Stop();
  std::vector<uint32_t> expected = {0};
  for (uint32_t t = 2000; t < 4000; t += 100) expected.push_back(t);
  std::vector<uint32_t> got;
  for (const auto& s : audio.Shown()) got.push_back(s.stamp);
  EXPECT_EQ(got, expected);
  // This decoder does not catch up: it is handed the packet at the target.
  EXPECT_EQ(video.Shown()[1].stamp, 2000u);
}

// The buttons follow playback: quick play, then play at normal speed without
// starting again, pause, stop.
TEST_F(PlaybackTest, CommandsFollowThePlaybackStates) {
  const std::string path = MakeRecording(dir_, 30, false);
  RecordingDecoder video(&clock_, kMediaTypeVideo);
  ContainerReader reader(&clock_);
  reader.AddDecoder(&video);
  reader.SetSource(path);
  PlayerCommands commands(&reader);
  video.HoldAt(3);
  ASSERT_TRUE(commands.Run(PlayerCommand::kQuickPlay));
  ASSERT_TRUE(video.WaitAtGate());
  EXPECT_TRUE(commands.State(PlayerCommand::kQuickPlay).checked);
  EXPECT_FALSE(commands.State(PlayerCommand::kQuickPlay).enabled);
  EXPECT_TRUE(commands.State(PlayerCommand::kPlay).enabled);
  ASSERT_TRUE(commands.Run(PlayerCommand::kPlay));  // normal speed from here
  EXPECT_TRUE(commands.State(PlayerCommand::kPlay).checked);
  EXPECT_FALSE(commands.State(PlayerCommand::kPlay).enabled);
  EXPECT_TRUE(commands.State(PlayerCommand::kPause).enabled);
  ASSERT_TRUE(commands.Run(PlayerCommand::kPause));
  video.Release();
  EXPECT_TRUE(commands.State(PlayerCommand::kPlay).enabled);
  EXPECT_FALSE(commands.State(PlayerCommand::kPause).enabled);
  EXPECT_TRUE(commands.State(PlayerCommand::kStop).enabled);
  ASSERT_TRUE(commands.Run(PlayerCommand::kPlay));  // resumes
  ASSERT_TRUE(commands.Run(PlayerCommand::kStop));
  EXPECT_FALSE(reader.IsRunning());
  EXPECT_FALSE(commands.State(PlayerCommand::kStop).enabled);
  const auto shown = video.Shown();
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_GT(shown[i].stamp, shown[i - 1].stamp) << "never restarted";
}

TEST(ScreenVideoDecoder, DibHeaderCarriesWhatEachDepthNeeds) {
  auto format = [](uint16_t bits, const std::vector<uint8_t>& colours) {
    std::vector<uint8_t> f = {40, 0, 0, 0, 6, 0, 0, 0, 2, 0, 0, 0, 1, 0, static_cast<uint8_t>(bits), 0,
                              'K', 'M', 'R', 'V'};
    f.resize(40, 0);
    f.insert(f.end(), colours.begin(), colours.end());
    return f;
  };
  ScreenVideoDecoder d;
  std::vector<uint8_t> palette(256);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(i + 1);
  auto f8 = format(8, palette);
  ASSERT_TRUE(d.SetFormat(f8.data(), f8.size())) << d.Error();
  std::vector<uint8_t> h = d.DibHeader();
  ASSERT_EQ(h.size(), 40u + 1024u);
  EXPECT_EQ(LoadU32(&h[0]), 40u);
  EXPECT_EQ(LoadU32(&h[4]), 6u);
  EXPECT_EQ(LoadU32(&h[8]), 0xFFFFFFFEu);  // -2: top-down
  EXPECT_EQ(h[14], 8);
  EXPECT_EQ(LoadU32(&h[16]), 0u);   // plain pixels
  EXPECT_EQ(LoadU32(&h[32]), 256u);  // colours used
  EXPECT_EQ(h[40], 1);
  EXPECT_EQ(h[40 + 255], 0);  // the stream's 256 bytes (64 entries), byte i holding i + 1
  EXPECT_EQ(h[40 + 254], 255);
  EXPECT_EQ(h[40 + 256], 0);
  EXPECT_EQ(h[40 + 1023], 0);

  auto f565 = format(16, {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0});
  ASSERT_TRUE(d.SetFormat(f565.data(), f565.size())) << d.Error();
  h = d.DibHeader();
  ASSERT_EQ(h.size(), 52u);
  EXPECT_EQ(LoadU32(&h[16]), 3u);  // bit fields
  EXPECT_EQ(LoadU32(&h[40]), 0xF800u);
  EXPECT_EQ(LoadU32(&h[44]), 0x07E0u);
  EXPECT_EQ(LoadU32(&h[48]), 0x001Fu);

  auto f555 = format(16, {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0});
  ASSERT_TRUE(d.SetFormat(f555.data(), f555.size())) << d.Error();
  h = d.DibHeader();
  ASSERT_EQ(h.size(), 40u);
  EXPECT_EQ(LoadU32(&h[16]), 0u);
  EXPECT_EQ(h[14], 16);

  auto f32 = format(32, {});
  ASSERT_TRUE(d.SetFormat(f32.data(), f32.size())) << d.Error();
  EXPECT_EQ(d.DibHeader().size(), 40u);
}

TEST(ScreenVideoDecoder, CopiesEveryRunInTheDisplayFormat) {
  ScreenVideoDecoder d;
  d.SetDisplayFormat(PixelFormat{32, false});
  // A 16-bit 5-5-5 stream: header with the three masks after it.
  BitmapInfoHeader b;
  b.width = 4;
  b.height = 2;
  b.bit_count = 16;
  b.compression = kFourCcLossless;
  std::vector<uint8_t> fmt;
  ByteWriter w(&fmt);
  b.Write(w);
  w.U32(0x7C00);
  w.U32(0x03E0);
  w.U32(0x001F);
  ASSERT_TRUE(d.SetFormat(fmt.data(), fmt.size())) << d.Error();
  EXPECT_TRUE(d.Is555());
  ASSERT_TRUE(d.HasDisplayCopy());
  // One key row of white 5-5-5 pixels.
  OfflineSource enc(4, 2, 16, 10);
  std::vector<uint8_t> raw(enc.RawFrameBytes(), 0);
  for (size_t i = 0; i < 8; i += 2) {
    raw[i] = 0xFF;
    raw[i + 1] = 0x7F;
  }
  ASSERT_TRUE(enc.EncodeFrame(raw.data()));
  ASSERT_TRUE(d.Decode(enc.EncodedData(), enc.EncodedSize()));
  EXPECT_EQ(LoadU32(d.DisplayCopy()) & 0xFFFFFF, 0xFFFFFFu);  // full white stays full white
  EXPECT_EQ(LoadU32(d.DisplayCopy() + d.DisplayCopyPitch()) & 0xFFFFFF, 0u);
  // A damaged packet: false, and the picture stays.
  const uint8_t junk[4] = {1, 2, 3, 4};
  EXPECT_FALSE(d.Decode(junk, 4));
  EXPECT_EQ(LoadU32(d.DisplayCopy()) & 0xFFFFFF, 0xFFFFFFu);
}

TEST(PixelConvert, Between16BitLayouts) {
  uint8_t src[2] = {0xFF, 0xFF};  // 5-6-5 white
  uint8_t dst[2] = {};
  Convert565To555(dst, 2, src, 2, 1, 1);
  EXPECT_EQ(dst[0] | (dst[1] << 8), 0x7FFF);
  Convert555To565(src, 2, dst, 2, 1, 1);
  EXPECT_EQ(src[0] | (src[1] << 8), 0xFFFF);
  bool supported = true;
  EXPECT_EQ(ConverterFor({24, false}, {16, true}, &supported), nullptr);
  EXPECT_FALSE(supported);
  EXPECT_EQ(ConverterFor({32, false}, {32, false}, &supported), nullptr);
  EXPECT_TRUE(supported);
  EXPECT_EQ(ConverterFor({16, true}, {32, false}, &supported), &Convert555To32);
}

}  // namespace
}  // namespace kmr
