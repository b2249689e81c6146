// The recorder window's decisions that need no window.
#include "recorder/ui/gtk/gui_model.h"

#include <gtest/gtest.h>

#include "recorder/ui/pages/page_rules.h"

namespace kmr {
namespace {

TEST(GuiModel, CodecListsByFormat) {
  const std::vector<std::string> options = {"libx264", "ffv1"}, names = {"H.264 (x264)", "FFV1"};
  const auto exe = CodecChoices(2, options, names);
  ASSERT_EQ(exe.size(), 2u) << "the self-playing file takes the own codecs only";
  EXPECT_EQ(exe[0].option, "lossless");
  EXPECT_EQ(exe[1].option, "lossy");
  const auto avi = CodecChoices(0, options, names);
  ASSERT_EQ(avi.size(), 4u);
  EXPECT_EQ(avi[2].shown, "H.264 (x264)");
  EXPECT_EQ(avi[3].option, "ffv1");
}

TEST(GuiModel, TheRecordingsCommandLine) {
  EXPECT_EQ(RecordArguments("/v/New.avi", "lossy", 0),
            (std::vector<std::string>{"record", "-o", "/v/New.avi", "--overwrite", "--no-hot-keys", "--codec",
                                      "lossy"}));
  EXPECT_EQ(RecordArguments("/v/a b.exe", "", 0x3a00007),
            (std::vector<std::string>{"record", "-o", "/v/a b.exe", "--overwrite", "--no-hot-keys", "--window",
                                      "60817415"}));
}

TEST(GuiModel, TheRecordersLines) {
  using K = RecorderLine::Kind;
  EXPECT_EQ(ParseRecorderLine("kelvo: recording 640x480 at 0,0 into /v/New.avi\n").kind, K::kStarted);
  EXPECT_EQ(ParseRecorderLine("kelvo: paused").kind, K::kPaused);
  EXPECT_EQ(ParseRecorderLine("\rrecording 00:01.0 ... kelvo: recording again").kind, K::kResumed);
  const RecorderLine wrote = ParseRecorderLine("kelvo: wrote /v/New.avi (Audio Video Interleaved): 00:02.0, 30 frames");
  EXPECT_EQ(wrote.kind, K::kWrote);
  EXPECT_EQ(wrote.text, "wrote /v/New.avi (Audio Video Interleaved): 00:02.0, 30 frames");
  EXPECT_EQ(ParseRecorderLine("frames 3 dropped 0").kind, K::kOther);
  EXPECT_EQ(ParseRecorderLine("frames 3 dropped 0").text, "");
}

TEST(GuiModel, AFailureSaysWhatTheRecorderSaid) {
  EXPECT_EQ(FailureText({"kelvo: the screen is captured through x", "kelvo: Can not start recording!",
                         "recording 00:00.0  frames 0", "kelvo: cannot open /nowhere/New.avi: No such file"},
                        1),
            "Can not start recording!\ncannot open /nowhere/New.avi: No such file");
  EXPECT_EQ(FailureText({}, 139), "The recorder stopped (exit status 139).");
}

TEST(GuiModel, TheMenuFollowsTheRecording) {
  const uint32_t f2 = 0x710000, f3 = 0x720000 | 2;
  const auto idle = GuiMenu(false, false, f2, f3);
  ASSERT_EQ(idle.size(), 7u);
  EXPECT_EQ(idle[0].label, "Settings");
  EXPECT_TRUE(idle[0].enabled);
  EXPECT_EQ(idle[1].label, "Start <F2>");
  EXPECT_EQ(idle[2].label, "Pause <Ctrl + F3>");
  EXPECT_FALSE(idle[2].enabled) << "nothing to pause";
  EXPECT_EQ(idle[6].label, "Exit");
  const auto paused = GuiMenu(true, true, f2, f3);
  EXPECT_FALSE(paused[0].enabled) << "no settings while recording";
  EXPECT_EQ(paused[1].label, "Stop <F2>");
  EXPECT_EQ(paused[2].label, "Resume <Ctrl + F3>");
  EXPECT_TRUE(paused[2].enabled);
  EXPECT_EQ(paused[3].command, kCmdViewVideos);
}

TEST(GuiModel, TheLogOnStartFile) {
  const std::string e = AutostartEntry("/opt/kelvo/kelvo");
  EXPECT_NE(e.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(e.find("Exec=\"/opt/kelvo/kelvo\" gui\n"), std::string::npos);
}

}  // namespace
}  // namespace kmr
