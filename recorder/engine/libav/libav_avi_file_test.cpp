// What a recorder killed part way leaves of a Matroska, MP4 or AVI file
// written through libavformat: everything but the last second is on disk
// for another program to read (ffprobe here), and an MP4 that was finished
// normally is a plain one with its index at the front.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "recorder/engine/avi_file.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

constexpr int kFrames = 60;  // six seconds at 10 frames a second

std::vector<uint8_t> BitmapFormat() {
  std::vector<uint8_t> f(40, 0);
  const auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40);
  put(4, 64);
  put(8, 48);
  f[12] = 1;
  f[14] = 32;
  put(16, 0x56524D4B);  // "KMRV"
  put(20, 64 * 48 * 4);
  return f;
}

double ProbedSeconds(const std::string& path) {
  const std::string cmd = "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " + path;
  std::FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char line[64] = "";
  const bool got = std::fgets(line, sizeof(line), p) != nullptr;
  pclose(p);
  return got ? std::atof(line) : -1;
}

// How far the packets another program reads go: the end of the last one
// (a killed file's header may not say its length).
double ReadableSeconds(const std::string& path) {
  const std::string cmd = "ffprobe -v error -select_streams v -show_entries packet=pts_time,duration_time "
                          "-of csv=p=0 " + path;
  std::FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  double end = 0;
  char line[128];
  while (std::fgets(line, sizeof(line), p) != nullptr) {
    double pts = 0, duration = 0;
    if (std::sscanf(line, "%lf,%lf", &pts, &duration) >= 1 && pts + duration > end) end = pts + duration;
  }
  pclose(p);
  return end;
}

// The file as a killed recorder would leave it: what is on disk now.
std::string CopyAsItIs(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
  return to;
}

// The top-level boxes of an MP4 file, in order.
std::vector<std::string> Boxes(const std::string& path) {
  const std::vector<uint8_t> b = testing::ReadAll(path);
  std::vector<std::string> names;
  for (size_t at = 0; at + 8 <= b.size();) {
    const uint64_t size = static_cast<uint64_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
    names.emplace_back(reinterpret_cast<const char*>(&b[at + 4]), 4);
    if (size < 8) break;
    at += size;
  }
  return names;
}

class LibavKilledRecording : public ::testing::TestWithParam<const char*> {};

TEST_P(LibavKilledRecording, KeepsAllButTheLastSecond) {
  if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
  testing::TempDir dir;
  const std::string ext = GetParam();
  const std::string path = dir.File("clip." + ext);
  std::unique_ptr<AviLibrary> library = MakeSystemAviLibrary();
  std::string error;
  std::unique_ptr<AviFile> file = library->Open(path, kAviOpenCreateWrite, &error);
  ASSERT_NE(file, nullptr) << error;
  AviStreamInfo info;
  info.type = kAviStreamVideo;
  info.handler = 0x56524D4B;
  info.rate = 10;
  info.frame = Rect{0, 0, 64, 48};
  std::unique_ptr<AviFileStream> video = file->CreateStream(info);
  ASSERT_NE(video, nullptr);
  ASSERT_TRUE(video->SetFormat(BitmapFormat()));
  std::vector<uint8_t> sample(2000);
  for (int i = 0; i < kFrames; ++i) {
    for (size_t k = 0; k < sample.size(); ++k) sample[k] = static_cast<uint8_t>(i * 7 + k);
    ASSERT_TRUE(video->Write(i, 1, sample.data(), static_cast<uint32_t>(sample.size()), kAviKeyFrame));
  }
  const std::string killed = CopyAsItIs(path, dir.File("killed." + ext));
  if (ext == "avi") {
    // No index before the end: what is there is counted front to back.
    const std::vector<uint8_t> b = testing::ReadAll(killed);
    int chunks = 0;
    for (size_t at = 0; at + 4 <= b.size(); ++at) chunks += b[at] == '0' && b[at + 1] == '0' && b[at + 2] == 'd' && b[at + 3] == 'c';
    EXPECT_GE(chunks, kFrames - 11) << "more than a second of frames was still in buffers";
  } else {
    EXPECT_GE(ReadableSeconds(killed), 4.8) << "more than a second was still in buffers";
  }
  // Two seconds with nothing new (empty samples) end the recording: they
  // lengthen the last picture.
  for (int i = kFrames; i < kFrames + 20; ++i) ASSERT_TRUE(video->Write(i, 1, nullptr, 0, 0));
  video.reset();
  ASSERT_TRUE(file->Release(&error)) << error;
  EXPECT_NEAR(ProbedSeconds(path), 8.0, 0.15);
  if (ext == "mp4") {
    const std::vector<std::string> boxes = Boxes(path);
    const auto at = [&](const char* name) { return std::find(boxes.begin(), boxes.end(), name) - boxes.begin(); };
    ASSERT_LT(at("moov"), static_cast<long>(boxes.size()));
    EXPECT_LT(at("moov"), at("mdat")) << "the index is not at the front";
    EXPECT_EQ(at("moof"), static_cast<long>(boxes.size())) << "still fragmented";
    EXPECT_FALSE(std::ifstream(path + ".plain").good()) << "the plain copy was left";
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, LibavKilledRecording, ::testing::Values("mkv", "mp4", "avi"));

}  // namespace
}  // namespace kmr
