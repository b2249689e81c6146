// The player's "Save a copy": the copy's name beside the recording, a copy
// saved on its own thread, and a cancel that leaves no file.
#include "tools/kmrtool/libav/copy_saver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "shared/testing/temp_dir.h"
#include "shared/testing/wait.h"
#include "tools/kmrtool/testing/small_recording.h"

namespace kmr {
namespace {

TEST(CopySaver, TheCopyIsNamedAfterTheRecordingAndTakesNoOtherFilesName) {
  testing::TempDir dir;
  EXPECT_EQ(CopySaver::CopyPathFor(dir.File("demo.exe")), dir.File("demo.mp4"));
  testing::WriteAll(dir.File("demo.mp4"), {1});
  testing::WriteAll(dir.File("demo (2).mp4"), {1});
  EXPECT_EQ(CopySaver::CopyPathFor(dir.File("demo.exe")), dir.File("demo (3).mp4"));
  EXPECT_EQ(CopySaver::CopyPathFor(dir.File("clip")), dir.File("clip.mp4"));
}

TEST(CopySaver, SavesOnItsOwnThreadAndSaysHowItEnded) {
  testing::TempDir dir;
  testing::WriteSmallRecording(dir.File("clip.kmr"), 10);
  CopySaver saver;
  EXPECT_EQ(CopySaver::Describe(saver.Current()), "");
  ASSERT_TRUE(saver.Start(dir.File("clip.kmr"), dir.File("clip.mp4")));
  ASSERT_TRUE(testing::WaitUntil([&] { return saver.Current().state != CopySaver::State::kSaving; }));
  const CopySaver::Status s = saver.Current();
  ASSERT_EQ(s.state, CopySaver::State::kSaved) << s.error;
  EXPECT_TRUE(std::filesystem::file_size(dir.File("clip.mp4")) > 0);
  EXPECT_EQ(CopySaver::Describe(s), "Saved a copy as " + dir.File("clip.mp4"));

  ASSERT_TRUE(saver.Start(dir.File("missing.kmr"), dir.File("missing.mp4")));
  ASSERT_TRUE(testing::WaitUntil([&] { return saver.Current().state != CopySaver::State::kSaving; }));
  EXPECT_EQ(saver.Current().state, CopySaver::State::kFailed);
  EXPECT_EQ(CopySaver::Describe(saver.Current()).rfind("The copy was not saved: ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing.mp4")));
}

TEST(CopySaver, ACancelledCopyLeavesNoFile) {
  testing::TempDir dir;
  testing::WriteSmallRecording(dir.File("clip.kmr"), 200);
  {
    CopySaver saver;
    ASSERT_TRUE(saver.Start(dir.File("clip.kmr"), dir.File("clip.mp4")));
    saver.Cancel();
    const CopySaver::Status s = saver.Current();
    if (s.state == CopySaver::State::kSaved) GTEST_SKIP() << "the copy was done before the cancel came";
    EXPECT_EQ(s.state, CopySaver::State::kFailed);
    EXPECT_EQ(s.error, "cancelled");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("clip.mp4")));
}

}  // namespace
}  // namespace kmr
