// Repair of the files the recorder writes through libavformat: a file left
// by a killed recorder (the file as it was on disk before the writer
// finished) becomes a finished file of its kind that another program reads
// to its end; a finished one is copied unchanged; what is none of these is
// refused with a reason; cuts anywhere never crash the repair.
#include "tools/kmrtool/media_repair.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "recorder/outputs/avi/avi_check.h"
#include "recorder/outputs/testing/own_codec_clip.h"
#include "shared/testing/ffprobe.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

// Six seconds at 10 frames a second; *killed gets the file as it was on
// disk before the writer finished it.
void Record(const std::string& path, const std::string& killed) { testing::WriteOwnCodecClip(path, 60, 0, killed); }

class MediaRepair : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!testing::HaveFfprobe()) GTEST_SKIP() << "no ffprobe";
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
  EXPECT_GE(testing::FfprobeHeaderSeconds(fixed), 4.9) << "the repaired file's header gives its length";
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

// A damaged MP4 whose tables claim gigabytes (found by the fuzzer) is
// refused or repaired without the library taking that memory.
TEST(MediaRepairRefusal, AFileClaimingHugeTablesTakesNoHugeMemory) {
  testing::TempDir dir;
  MediaRepairReport report;
  std::string error;
  const bool repaired = RepairMediaFile(std::string(MEDIA_CORPUS) + "/huge_table.mp4", dir.File("out.mp4"), &report, &error);
  EXPECT_TRUE(repaired || !error.empty());
}

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
