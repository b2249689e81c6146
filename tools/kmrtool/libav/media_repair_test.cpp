// Repair of the files the recorder writes through libavformat: a file left
// by a killed recorder (the file as it was on disk before the writer
// finished) becomes a finished file of its kind that another program reads
// to its end; a finished one is copied unchanged; what is none of these is
// refused with a reason; cuts anywhere never crash the repair.
#include "tools/kmrtool/media_repair.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "recorder/engine/avi_check.h"
#include "recorder/engine/avi_file.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

std::vector<uint8_t> BitmapFormat() {
  std::vector<uint8_t> f(40, 0);
  const auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40), put(4, 64), put(8, 48), put(16, 0x56524D4B), put(20, 64 * 48 * 4);
  f[12] = 1, f[14] = 32;
  return f;
}

double ProbedSeconds(const std::string& path) {
  const std::string cmd = "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'";
  std::FILE* p = popen(cmd.c_str(), "r");
  char line[64] = "";
  const bool got = p != nullptr && std::fgets(line, sizeof(line), p) != nullptr;
  if (p != nullptr) pclose(p);
  return got ? std::atof(line) : -1;
}

// Six seconds at 10 frames a second; *killed gets the file as it was on
// disk before the writer finished it.
void Record(const std::string& path, const std::string& killed) {
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
  ASSERT_TRUE(video->SetFormat(BitmapFormat()));
  std::vector<uint8_t> sample(1500);
  for (int i = 0; i < 60; ++i) {
    for (size_t k = 0; k < sample.size(); ++k) sample[k] = static_cast<uint8_t>(i + k);
    ASSERT_TRUE(video->Write(i, 1, sample.data(), static_cast<uint32_t>(sample.size()), kAviKeyFrame));
  }
  {
    std::ifstream in(path, std::ios::binary);
    std::ofstream out(killed, std::ios::binary);
    out << in.rdbuf();
  }
  video.reset();
  ASSERT_TRUE(file->Release(&error)) << error;
}

class MediaRepair : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
  }
  testing::TempDir dir_;
};

TEST_P(MediaRepair, AKilledFileBecomesAFinishedOneAndAWholeOneIsCopied) {
  const std::string ext = GetParam();
  const std::string whole = dir_.File("whole." + ext), killed = dir_.File("killed." + ext);
  Record(whole, killed);
  if (HasFatalFailure()) return;
  const std::vector<uint8_t> killed_bytes = testing::ReadAll(killed);

  const std::string fixed = dir_.File("fixed." + ext);
  MediaRepairReport report;
  std::string error;
  ASSERT_TRUE(RepairMediaFile(killed, fixed, &report, &error)) << error;
  EXPECT_FALSE(report.whole);
  EXPECT_GE(report.packets, 49u) << "all but the last second";
  EXPECT_GE(report.duration_ms, 4900u);
  EXPECT_GE(ProbedSeconds(fixed), 4.9) << "the repaired file's header gives its length";
  EXPECT_EQ(testing::ReadAll(killed), killed_bytes) << "the input was written";
  if (ext == "avi") {
    EXPECT_TRUE(AviFileFinished(fixed, &error)) << error;
  }
  // A repaired (or finished) file needs nothing more: copied as it is.
  const std::string again = dir_.File("again." + ext);
  MediaRepairReport second;
  ASSERT_TRUE(RepairMediaFile(whole, again, &second, &error)) << error;
  EXPECT_TRUE(second.whole);
  EXPECT_EQ(testing::ReadAll(again), testing::ReadAll(whole));
  EXPECT_FALSE(RepairMediaFile(whole, whole, &second, &error)) << "written over its input";
}

// Cut anywhere, the repair either makes a file or says why; it never
// crashes (AddressSanitizer watches) and never leaves a failed output.
TEST_P(MediaRepair, CutsAnywhereAreRepairedOrRefused) {
  const std::string ext = GetParam();
  const std::string whole = dir_.File("whole." + ext), killed = dir_.File("killed." + ext);
  Record(whole, killed);
  if (HasFatalFailure()) return;
  const std::vector<uint8_t> bytes = testing::ReadAll(whole);
  for (size_t n = 0; n < bytes.size(); n += bytes.size() / 23 + 1) {
    const std::string cut = dir_.File("cut." + ext), out = dir_.File("out." + ext);
    testing::WriteAll(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    std::remove(out.c_str());
    MediaRepairReport report;
    std::string error;
    if (!RepairMediaFile(cut, out, &report, &error)) {
      EXPECT_FALSE(error.empty());
      EXPECT_FALSE(std::ifstream(out).good()) << "a failed repair left " << out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MediaRepair, ::testing::Values("mkv", "mp4", "avi"));

TEST(MediaRepairRefusal, WhatIsNoRecordingIsSaid) {
  testing::TempDir dir;
  testing::WriteAll(dir.File("notes.txt"), std::vector<uint8_t>(200, 'x'));
  MediaRepairReport report;
  std::string error;
  EXPECT_FALSE(RepairMediaFile(dir.File("notes.txt"), dir.File("out.mkv"), &report, &error));
  EXPECT_NE(error.find("notes.txt"), std::string::npos) << error;
  EXPECT_FALSE(RepairMediaFile(dir.File("missing.avi"), dir.File("out.avi"), &report, &error));
}

}  // namespace
}  // namespace kmr
