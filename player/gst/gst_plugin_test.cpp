#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/codecs/lossless_key_frame.h"
#include "player/gst/recording_sniff.h"
#include "player/recording_file.h"
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "recorder/outputs/video_source.h"
#include "shared/container/container_format.h"
#include "tools/kmrtool/offline_source.h"
#include "tools/kmrtool/raw_export.h"

// GLib keeps its interned names and what its constructors set up for the
// life of the process, and GStreamer what the plugins register when it
// rebuilds its registry (after plugins were installed); LeakSanitizer would
// call them leaks. GLib has no frame pointers: the slow unwinder is what
// sees those callers.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:g_intern_string\nleak:g_intern_static_string\nleak:gst_update_registry\nleak:_dl_init\n";
}
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace kmr {
namespace {

std::string TempPath(const std::string& name) {
  const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
  return ::testing::TempDir() + "kmr_gst_" + t->name() + "_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A stand-alone recording of frames that all differ (a bar moves down), a
// key frame every key_every frames.
void WriteRecording(const std::string& path, int32_t width, int32_t height, uint32_t frames, uint32_t key_every) {
  constexpr uint32_t kFps = 10;
  StandaloneContainerWriter writer;
  writer.SetPath(path.c_str());
  OfflineSource source(width, height, 32, kFps);
  ContainerVideoStream video;
  ASSERT_TRUE(video.Attach(FormatOf(source)));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  ASSERT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes(), 0x20);
  const size_t row = static_cast<size_t>(width) * 4;
  for (uint32_t i = 0; i < frames; ++i) {
    std::fill_n(&raw[(i % height) * row], row, static_cast<uint8_t>(0x40 + i * 3));
    if (i % key_every == 0) source.RequestKeyFrame();
    ASSERT_TRUE(source.EncodeFrame(raw.data()));
    ASSERT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, kFps), 1000 / kFps, i)));
  }
  ASSERT_TRUE(writer.Close());
}

RecordingKind Sniff(const std::vector<uint8_t>& file, bool size_known = true) {
  const PeekBytes peek = [&file](int64_t offset, size_t n) -> const uint8_t* {
    const int64_t at = offset < 0 ? static_cast<int64_t>(file.size()) + offset : offset;
    if (at < 0 || static_cast<uint64_t>(at) + n > file.size()) return nullptr;
    return file.data() + at;
  };
  return SniffRecording(peek, size_known ? file.size() : 0);
}

// The own container with a program in front of it, as the recorder's
// self-playing output lays it out: the trailer points past the program.
std::vector<uint8_t> WithProgramInFront(const std::vector<uint8_t>& recording, const char* magic) {
  constexpr size_t kProgram = 4096;
  std::vector<uint8_t> out(kProgram + recording.size(), 0);
  out[0] = static_cast<uint8_t>(magic[0]);
  out[1] = static_cast<uint8_t>(magic[1]);
  std::copy(recording.begin(), recording.end(), out.begin() + kProgram);
  ByteReader r(&recording[recording.size() - kTrailerSize], kTrailerSize);
  Trailer t = Trailer::Read(r);
  t.container_start = kProgram;
  std::vector<uint8_t> trailer;
  ByteWriter w(&trailer);
  t.Write(w);
  std::copy(trailer.begin(), trailer.end(), out.end() - kTrailerSize);
  return out;
}

TEST(RecordingSniff, TellsTheOwnContainerTheSelfPlayingFileAndMediaWithTheCodecs) {
  const std::string path = TempPath("rec.kmr");
  WriteRecording(path, 16, 8, 3, 100);
  const std::vector<uint8_t> own = ReadAll(path);
  EXPECT_EQ(Sniff(own), RecordingKind::kOwnContainer);
  EXPECT_EQ(Sniff(WithProgramInFront(own, "MZ")), RecordingKind::kSelfPlaying);

  std::vector<uint8_t> avi(5000, 0);
  std::memcpy(avi.data(), "RIFF\0\0\0\0AVI LIST", 16);
  std::memcpy(&avi[120], "strf", 4);
  std::memcpy(&avi[140], "KMRV", 4);
  EXPECT_EQ(Sniff(avi), RecordingKind::kMediaWithOwnCodec);
  // Media sniffing needs no length (a stream).
  EXPECT_EQ(Sniff(avi, false), RecordingKind::kMediaWithOwnCodec);
  std::vector<uint8_t> mkv(300, 0);
  const uint8_t ebml[] = {0x1A, 0x45, 0xDF, 0xA3};
  std::memcpy(mkv.data(), ebml, 4);
  std::memcpy(&mkv[250], "V_MS/VFW/FOURCCkmrv", 19);
  EXPECT_EQ(Sniff(mkv), RecordingKind::kMediaWithOwnCodec);
  remove(path.c_str());
}

TEST(RecordingSniff, LeavesOtherFilesToOthers) {
  const std::string path = TempPath("rec.kmr");
  WriteRecording(path, 16, 8, 3, 100);
  const std::vector<uint8_t> own = ReadAll(path);
  // A trailer behind something that is not a program.
  EXPECT_EQ(Sniff(WithProgramInFront(own, "PK")), RecordingKind::kNone);
  // The trailer's start past the end, and a container of no streams.
  std::vector<uint8_t> far = own;
  far[far.size() - 8] = 0xFF;
  far[far.size() - 7] = 0xFF;
  EXPECT_EQ(Sniff(far), RecordingKind::kNone);
  std::vector<uint8_t> empty = own;
  empty[0] = empty[1] = 0;
  EXPECT_EQ(Sniff(empty), RecordingKind::kNone);
  // The length is needed to find the trailer.
  EXPECT_EQ(Sniff(own, false), RecordingKind::kNone);

  std::vector<uint8_t> mjpeg(200, 0);
  std::memcpy(mjpeg.data(), "RIFF\0\0\0\0AVI LIST", 16);
  std::memcpy(&mjpeg[140], "MJPG", 4);
  EXPECT_EQ(Sniff(mjpeg), RecordingKind::kNone);
  std::vector<uint8_t> text(100, 'a');
  std::memcpy(&text[50], "KMRV", 4);
  EXPECT_EQ(Sniff(text), RecordingKind::kNone);
  EXPECT_EQ(Sniff({}), RecordingKind::kNone);
  EXPECT_EQ(Sniff({'R', 'I', 'F', 'F'}), RecordingKind::kNone);
  remove(path.c_str());
}

TEST(LosslessKeyFrameGeometry, ReadsThePictureOfEveryDepthFromAKeyFrame) {
  for (uint32_t bits : {32u, 24u, 16u, 8u}) {
    SCOPED_TRACE(bits);
    OfflineSource source(37, 11, bits, 10);
    ASSERT_TRUE(source.Ok());
    std::vector<uint8_t> raw(source.RawFrameBytes());
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(source.EncodeFrame(raw.data()));
    ASSERT_TRUE(source.IsKeyFrame());
    KeyFrameGeometry g;
    ASSERT_TRUE(LosslessKeyFrameGeometry(source.EncodedData(), source.EncodedSize(), &g));
    EXPECT_EQ(g.width, 37);
    EXPECT_EQ(g.height, 11);
    EXPECT_EQ(g.bytes_per_pixel, bits / 8);

    // A delta frame says nothing about the picture.
    raw[5] ^= 0xFF;
    ASSERT_TRUE(source.EncodeFrame(raw.data()));
    ASSERT_FALSE(source.IsKeyFrame());
    EXPECT_FALSE(LosslessKeyFrameGeometry(source.EncodedData(), source.EncodedSize(), &g));
  }
}

TEST(LosslessKeyFrameGeometry, RefusesDamagedAndCutFrames) {
  OfflineSource source(20, 6, 32, 10);
  std::vector<uint8_t> raw(source.RawFrameBytes(), 0x55);
  ASSERT_TRUE(source.EncodeFrame(raw.data()));
  const std::vector<uint8_t> packet(source.EncodedData(), source.EncodedData() + source.EncodedSize());
  KeyFrameGeometry g;
  EXPECT_FALSE(LosslessKeyFrameGeometry(packet.data(), packet.size() - 3, &g));
  std::vector<uint8_t> damaged = packet;
  damaged[damaged.size() / 2] ^= 0x5A;
  EXPECT_FALSE(LosslessKeyFrameGeometry(damaged.data(), damaged.size(), &g));
  const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(LosslessKeyFrameGeometry(garbage, sizeof(garbage), &g));
  EXPECT_FALSE(LosslessKeyFrameGeometry(nullptr, 0, &g));
}

// The plugin as GStreamer programs load it: from its folder, in a registry
// of the test's own.
class GstPipelineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("GST_PLUGIN_PATH", KMR_GST_PLUGIN_DIR, 1);
    // Scanned in this process: a plugin built with the sanitizer loads only
    // where its runtime is.
    setenv("GST_REGISTRY_FORK", "no", 1);
    setenv("GST_REGISTRY", (::testing::TempDir() + "kmr_gst_registry_" + std::to_string(getpid()) + ".bin").c_str(),
           1);
    gst_init(nullptr, nullptr);
  }

  void TearDown() override {
    if (pipeline_ != nullptr) {
      gst_element_set_state(pipeline_, GST_STATE_NULL);
      gst_object_unref(pipeline_);
    }
  }

  // filesrc ! decodebin ! appsink of 32-bit pictures, prerolled.
  void Open(const std::string& path) {
    GError* error = nullptr;
    const std::string launch = "filesrc location=\"" + path +
                               "\" ! decodebin ! video/x-raw,format=BGRx ! appsink name=sink sync=false";
    pipeline_ = gst_parse_launch(launch.c_str(), &error);
    ASSERT_NE(pipeline_, nullptr) << (error != nullptr ? error->message : "");
    sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
    gst_object_unref(sink_);  // the pipeline keeps it
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    WaitPrerolled();
  }

  void WaitPrerolled() {
    GstState state;
    ASSERT_EQ(gst_element_get_state(pipeline_, &state, nullptr, 60 * GST_SECOND), GST_STATE_CHANGE_SUCCESS)
        << FirstError();
  }

  // The first error on the bus (others follow from it: a stopped stream).
  std::string FirstError() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    std::string text;
    while (GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
      GError* e = nullptr;
      gst_message_parse_error(m, &e, nullptr);
      if (text.empty()) text = e->message;
      g_error_free(e);
      gst_message_unref(m);
    }
    if (text.empty()) text = "no error on the bus";
    gst_object_unref(bus);
    return text;
  }

  // The prerolled picture and its time.
  std::vector<uint8_t> Preroll(GstClockTime* pts) {
    GstSample* sample = nullptr;
    g_signal_emit_by_name(sink_, "pull-preroll", &sample);
    if (sample == nullptr) return {};
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    *pts = GST_BUFFER_PTS(buffer);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    std::vector<uint8_t> bytes(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    return bytes;
  }

  static std::vector<uint8_t> SlotPicture(const std::string& path, uint32_t slot) {
    std::string error;
    std::unique_ptr<RecordingFile> file = OpenRecordingFile(path, &error);
    EXPECT_NE(file, nullptr) << error;
    if (file == nullptr) return {};
    RawVideoInfo info;
    std::vector<uint8_t> rows;
    EXPECT_TRUE(ExportFrame(file.get(), slot, &info, &rows, &error)) << error;
    return rows;
  }

  GstElement* pipeline_ = nullptr;
  GstElement* sink_ = nullptr;
};

TEST_F(GstPipelineTest, ASeekShowsThePictureOfItsTimeFromTheKeyFrameBefore) {
  // 64 × 32 (rows of 256 bytes: the appsink's pictures have no padding).
  const std::string path = TempPath("seek.kmr");
  WriteRecording(path, 64, 32, 50, 10);
  ASSERT_NO_FATAL_FAILURE(Open(path));
  gint64 duration = 0;
  ASSERT_TRUE(gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &duration));
  EXPECT_EQ(duration, 5000 * static_cast<gint64>(GST_MSECOND));
  GstClockTime pts = 0;
  EXPECT_EQ(Preroll(&pts), SlotPicture(path, 0));
  EXPECT_EQ(pts, 0u);

  // 2.35 s lies in the frame of 2.3 s, three deltas after the key frame of 2.0 s.
  ASSERT_TRUE(gst_element_seek_simple(pipeline_, GST_FORMAT_TIME,
                                      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                      2350 * GST_MSECOND));
  WaitPrerolled();
  const std::vector<uint8_t> picture = Preroll(&pts);
  EXPECT_EQ(pts, 2350 * GST_MSECOND);  // the frame of 2.3 s, cut to the segment
  EXPECT_EQ(picture, SlotPicture(path, 23));
  // Back again, before the first key frame's successor.
  ASSERT_TRUE(gst_element_seek_simple(pipeline_, GST_FORMAT_TIME,
                                      static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                      700 * GST_MSECOND));
  WaitPrerolled();
  EXPECT_EQ(Preroll(&pts), SlotPicture(path, 7));
  remove(path.c_str());
}

TEST_F(GstPipelineTest, ADamagedRecordingFailsWithItsReason) {
  const std::string path = TempPath("damaged.kmr");
  WriteRecording(path, 16, 8, 5, 100);
  std::vector<uint8_t> bytes = ReadAll(path);
  // The bitmap header's picture width (12 bytes before its compression, the
  // second "KMRV" after the media subtype's): 0 is no picture.
  const std::vector<uint8_t> good = bytes;
  int seen = 0;
  for (size_t i = 12; i + 4 <= bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], "KMRV", 4) == 0 && ++seen == 2) {
      std::memset(&bytes[i - 12], 0, 4);
      break;
    }
  }
  ASSERT_NE(bytes, good);
  WriteAll(path, bytes);
  GError* error = nullptr;
  pipeline_ = gst_parse_launch(("filesrc location=\"" + path + "\" ! decodebin ! fakesink").c_str(), &error);
  ASSERT_NE(pipeline_, nullptr);
  gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  // The pipeline's first word: an error, not a prerolled picture or the end.
  GstBus* bus = gst_element_get_bus(pipeline_);
  GstMessage* m = gst_bus_timed_pop_filtered(
      bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_ASYNC_DONE));
  gst_object_unref(bus);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_ERROR) << GST_MESSAGE_TYPE_NAME(m);
  GError* e = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(m, &e, &debug);
  // decodebin tells of the element that refused the file in the details.
  const std::string reason = std::string(e->message) + " " + (debug != nullptr ? debug : "");
  g_error_free(e);
  g_free(debug);
  gst_message_unref(m);
  EXPECT_NE(reason.find("The video format is damaged: "), std::string::npos) << reason;
  remove(path.c_str());
}

}  // namespace
}  // namespace kmr
