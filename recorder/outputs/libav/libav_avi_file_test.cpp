// What a recorder killed part way leaves of a Matroska, MP4 or AVI file
// written through libavformat: everything but the last second is on disk
// for another program to read (ffprobe here), and an MP4 that was finished
// normally is a plain one with its index at the front.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "recorder/outputs/testing/own_codec_clip.h"
#include "shared/testing/ffprobe.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

constexpr int kFrames = 60;  // six seconds at 10 frames a second

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
  if (!testing::HaveFfprobe()) GTEST_SKIP() << "no ffprobe";
  testing::TempDir dir;
  const std::string ext = GetParam();
  const std::string path = dir.File("clip." + ext), killed = dir.File("killed." + ext);
  // Two seconds with nothing new end the recording: they lengthen the last picture.
  testing::WriteOwnCodecClip(path, kFrames, 20, killed);
  if (HasFatalFailure()) return;
  if (ext == "avi") {
    // No index before the end: what is there is counted front to back.
    const std::vector<uint8_t> b = testing::ReadAll(killed);
    int chunks = 0;
    for (size_t at = 0; at + 4 <= b.size(); ++at) {
      chunks += b[at] == '0' && b[at + 1] == '0' && b[at + 2] == 'd' && b[at + 3] == 'c';
    }
    EXPECT_GE(chunks, kFrames - 11) << "more than a second of frames was still in buffers";
  } else {
    EXPECT_GE(testing::FfprobeReadableSeconds(killed), 4.8) << "more than a second was still in buffers";
  }
  EXPECT_NEAR(testing::FfprobeHeaderSeconds(path), 8.0, 0.15);
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
