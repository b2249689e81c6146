#include "recorder/outputs/container/container_stream.h"
#include "recorder/control/frame_grid.h"
#include "recorder/control/testing/frames_on_grid.h"

#include <gtest/gtest.h>

#include <vector>

#include "recorder/outputs/media_writer.h"
#include "recorder/outputs/testing/fake_sources.h"

namespace kmr {
namespace {

using testing::FakeVideoSource;

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
  return std::vector<uint8_t>(v.begin() + at, v.begin() + at + n);
}

TEST(ContainerVideoStream, HeaderOfA640x480LosslessCaptureHasTheDocumentedBytes) {
  FakeVideoSource source(640, 480, 32, 15);
  ContainerVideoStream stream;
  ASSERT_TRUE(stream.Attach(FormatOf(source)));
  std::vector<uint8_t> h;
  ByteWriter w(&h);
  stream.Header().Write(w);
  ASSERT_EQ(h.size(), 72u);
  EXPECT_EQ(Slice(h, 0, 16), Bytes({0x76, 0x69, 0x64, 0x73, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00,
                                    0x38, 0x9B, 0x71}));
  EXPECT_EQ(Slice(h, 16, 16), Bytes({0x4B, 0x4D, 0x52, 0x56, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00,
                                     0x38, 0x9B, 0x71}));
  EXPECT_EQ(Slice(h, 32, 12), Bytes({0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Slice(h, 44, 16), Bytes({0x80, 0x9F, 0x58, 0x05, 0x56, 0xC3, 0xCE, 0x11, 0xBF, 0x01, 0x00, 0xAA, 0x00,
                                     0x55, 0x59, 0x5A}));
  EXPECT_EQ(Slice(h, 60, 8), Bytes({0, 0, 0, 0, 88, 0, 0, 0}));

  const std::vector<uint8_t>& f = stream.FormatBlock();
  ASSERT_EQ(f.size(), 88u);
  EXPECT_EQ(Slice(f, 0, 40), std::vector<uint8_t>(40, 0));
  EXPECT_EQ(LoadU32(&f[40]), 666666u);
  EXPECT_EQ(LoadU32(&f[44]), 0u);
  EXPECT_EQ(LoadU32(&f[48]), 40u);            // bitmap header size
  EXPECT_EQ(LoadU32(&f[52]), 640u);           // width
  EXPECT_EQ(LoadU32(&f[56]), 480u);           // height, positive
  EXPECT_EQ(f[62] | (f[63] << 8), 32);        // bit count
  EXPECT_EQ(Slice(f, 64, 4), Bytes({'K', 'M', 'R', 'V'}));
  EXPECT_EQ(LoadU32(&f[68]), 1228800u);       // image size
}

TEST(ContainerVideoStream, FormatBlockSizeFollowsTheBitDepth) {
  struct Case {
    uint16_t bits;
    size_t size;
  };
  for (const Case c : {Case{8, 344}, Case{16, 100}, Case{24, 88}, Case{32, 88}}) {
    FakeVideoSource source(320, 200, c.bits, 10);
    ContainerVideoStream stream;
    ASSERT_TRUE(stream.Attach(FormatOf(source)));
    EXPECT_EQ(stream.FormatBlock().size(), c.size) << c.bits << " bits";
    EXPECT_EQ(stream.Header().format_size, c.size);
    if (c.bits == 8) {
      // The first 256 bytes of the colour table, not all 1024.
      EXPECT_EQ(Slice(stream.FormatBlock(), 88, 256), Slice(source.ColourTable(), 0, 256));
    }
    if (c.bits == 16) {
      EXPECT_EQ(Slice(stream.FormatBlock(), 88, 12), source.ColourTable());
    }
  }
}

TEST(ContainerVideoStream, OddCaptureSizeIsRoundedUpToEven) {
  FakeVideoSource source(801, 601, 24, 15, /*lossless=*/false);
  ContainerVideoStream stream;
  ASSERT_TRUE(stream.Attach(FormatOf(source)));
  VideoFormat f;
  ASSERT_TRUE(VideoFormat::Parse(stream.FormatBlock(), &f));
  EXPECT_EQ(f.bitmap.width, 802);
  EXPECT_EQ(f.bitmap.height, 602);
  EXPECT_EQ(f.bitmap.compression, kFourCcLossy);
  EXPECT_EQ(f.bitmap.size_image, 602u * ((24u * 802 / 8 + 3) & ~3u));
}

// The lossless codec records any size: the picture is exactly the capture
// rectangle, with no row or column that was never recorded.
TEST(ContainerVideoStream, TheLosslessCodecKeepsAnOddSize) {
  FakeVideoSource source(301, 251, 32, 15, /*lossless=*/true);
  ContainerVideoStream stream;
  ASSERT_TRUE(stream.Attach(FormatOf(source)));
  VideoFormat f;
  ASSERT_TRUE(VideoFormat::Parse(stream.FormatBlock(), &f));
  EXPECT_EQ(f.bitmap.width, 301);
  EXPECT_EQ(f.bitmap.height, 251);
  EXPECT_EQ(f.bitmap.compression, kFourCcLossless);
  EXPECT_EQ(f.bitmap.size_image, 251u * 301 * 4);
}

// The container stores the own codecs' frames and MP3 blocks only.
TEST(ContainerVideoStream, AttachRefusesACompressorsFramesAndAShortWaveFormat) {
  ContainerVideoStream stream;
  std::vector<uint8_t> bitmap_info(40, 0);
  EXPECT_FALSE(stream.Attach(CompressedVideoFormat{bitmap_info, 1, 15, 0}));
  testing::FakeAudioSource audio;
  ContainerAudioStream audio_stream;
  SoundFormat truncated = FormatOf(audio);
  truncated.wave_format.pop_back();
  EXPECT_FALSE(audio_stream.Attach(truncated));
  EXPECT_TRUE(audio_stream.Attach(FormatOf(audio)));
  EXPECT_EQ(audio_stream.Header().format_size, 30u);
  EXPECT_EQ(audio_stream.Header().subtype, kSubtypeMp3);
}

TEST(FrameGrid, SlotTimesAreRoundedOnTheGrid) {
  EXPECT_EQ(FrameGrid::SlotTime(0, 15), 0u);
  EXPECT_EQ(FrameGrid::SlotTime(1, 15), 67u);
  EXPECT_EQ(FrameGrid::SlotTime(2, 15), 133u);
  EXPECT_EQ(FrameGrid::SlotTime(3, 30), 100u);
  EXPECT_EQ(FrameGrid::SlotTime(1, 7), 143u);
}

// A writer whose queue the test drains by hand (no thread).
class RecordingWriter : public MediaWriter {
 public:
  RecordingWriter() : MediaWriter("test", "tst") {}
  bool Open() override { return StartWriterThread(); }
};

// Stream that records what the writer thread hands it.
class CapturingVideoStream : public ContainerVideoStream {
 public:
  std::vector<Packet> written;
  bool WritePacket(const Packet* packet) override {
    if (!packet->nothing_to_write) written.push_back(*packet);
    return true;
  }
};

// The frames on the grid, as the source hands them on: the stream stores
// each at its slot with the container's key flag.
TEST(ContainerVideoStream, FramesOnTheGrid) {
  FakeVideoSource source(64, 64, 32, 15);
  CapturingVideoStream stream;
  RecordingWriter writer;
  ASSERT_TRUE(stream.Attach(FormatOf(source)));
  stream.SetWriter(&writer);
  ASSERT_TRUE(writer.AddStream(&stream));
  stream.MediaStream::Open();  // no header bytes needed here
  ASSERT_TRUE(writer.Open());

  testing::FramesOnGrid frames(&source, &stream);
  source.SetFrame({1, 2, 3}, true);
  ASSERT_TRUE(frames.Put(0));     // slot 0
  source.SetFrame({4}, false);
  ASSERT_TRUE(frames.Put(10));    // early: still slot 1, never before it
  source.SetFrame({}, false);
  ASSERT_TRUE(frames.Put(140));   // nothing changed: slot 2 consumed, nothing written
  source.SetFrame({5}, false);
  ASSERT_TRUE(frames.Put(400));   // late: slots 3..5 skipped, 333 + 66 < 400 → 6 (400)
  EXPECT_EQ(frames.Count(), 7u);

  stream.SetWriter(nullptr);
  EXPECT_FALSE(frames.Put(500));  // failure leaves n unchanged
  EXPECT_EQ(frames.Count(), 7u);
  EXPECT_EQ(stream.GetEndTime(), 400u + 66u);
  writer.Close();

  ASSERT_EQ(stream.written.size(), 3u);
  EXPECT_EQ(stream.written[0].time_stamp, 0u);
  EXPECT_EQ(stream.written[0].duration, 66u);
  EXPECT_EQ(stream.written[0].flags, 1u);
  EXPECT_EQ(stream.written[1].time_stamp, 67u);
  EXPECT_EQ(stream.written[1].flags, 0u);
  EXPECT_EQ(stream.written[2].time_stamp, 400u);
}

}  // namespace
}  // namespace kmr
