// The settings pages' rules: the hot-key list and names, the overwrite
// option on real files, the input the Audio page prefers, the frames-per-
// second question, the save dialog's filter and the tray menu's labels.
#include "recorder/ui/pages/page_rules.h"

#include <gtest/gtest.h>

#include "recorder/ui/hotkeys/hot_key.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

std::string PlainNames(uint32_t code) {
  switch (code) {
    case 0x78: return "F9";
    case 0x121: return "Page Up";
    case 0x71: return "F2";
    default: return "?";
  }
}

TEST(HotKeyList, SeventyThreeKeysInTheirOrderWithExtendedNavigationKeys) {
  const std::vector<uint32_t>& codes = HotKeyListCodes();
  ASSERT_EQ(codes.size(), 73u);
  EXPECT_EQ(codes[0], 0x08u);   // Backspace
  EXPECT_EQ(codes[4], 0x20u);   // Space
  EXPECT_EQ(codes[5], 0x121u);  // Page Up, extended
  EXPECT_EQ(codes[13], 0x12Du);  // Insert
  EXPECT_EQ(codes[14], 0x12Eu);  // Delete
  EXPECT_EQ(codes[15], 0x60u);   // keypad 0
  EXPECT_EQ(codes[25], 0x30u);   // 0
  EXPECT_EQ(codes[35], 0x41u);   // A
  EXPECT_EQ(codes[60], 0x5Au);   // Z
  EXPECT_EQ(codes[61], 0x70u);   // F1
  EXPECT_EQ(codes[72], 0x7Bu);   // F12
}

TEST(HotKeyList, ValuesAndDisplayNames) {
  const uint32_t ctrl_shift_f9 = HotKeyFromControls(0x78, false, true, true);
  EXPECT_EQ(ctrl_shift_f9, 0x00780006u);
  EXPECT_EQ(HotKeyName(ctrl_shift_f9, PlainNames), "Ctrl + Shift + F9");
  EXPECT_EQ(HotKeyName(HotKeyFromControls(0x78, true, true, true), PlainNames), "Alt + Ctrl + Shift + F9");
  // An extended key keeps its flag in bit 24 and its name.
  const uint32_t page_up = HotKeyFromControls(0x121, true, false, false);
  EXPECT_EQ(page_up, 0x01210001u);
  EXPECT_EQ(HotKeyListCode(page_up), 0x121u);
  EXPECT_EQ(HotKeyName(page_up, PlainNames), "Alt + Page Up");
  EXPECT_EQ(HotKeyName(0x00710000u, PlainNames), "F2");
}

class OverwriteOption : public ::testing::Test {
 protected:
  PathName Existing(const std::string& name) {
    testing::WriteAll(dir_.File(name), {1, 2, 3});
    return PathName(dir_.File(name).c_str());
  }
  testing::TempDir dir_;
};

TEST_F(OverwriteOption, AFreeNameIsUsedWhateverTheOption) {
  for (int option : {0, 1, 2}) {
    PathName p(dir_.File("New.exe").c_str());
    EXPECT_EQ(ApplyOverwriteOption(option, &p, [](const std::string&) -> bool { ADD_FAILURE(); return false; }),
              OverwriteResult::kUse);
    EXPECT_EQ(std::string(p.Get()), dir_.File("New.exe"));
  }
  PathName p(dir_.File("New.exe").c_str());
  EXPECT_EQ(ApplyOverwriteOption(-1, &p, [](const std::string&) { return true; }), OverwriteResult::kDeclined);
}

TEST_F(OverwriteOption, AnExistingFileIsOverwrittenAskedOrNumbered) {
  PathName p = Existing("New.exe");
  EXPECT_EQ(ApplyOverwriteOption(0, &p, [](const std::string&) { return false; }), OverwriteResult::kUse);
  std::string asked;
  EXPECT_EQ(ApplyOverwriteOption(1, &p, [&](const std::string& s) { asked = s; return false; }),
            OverwriteResult::kDeclined);
  EXPECT_EQ(asked, dir_.File("New.exe"));
  EXPECT_EQ(ApplyOverwriteOption(1, &p, [](const std::string&) { return true; }), OverwriteResult::kUse);
  Existing("New#01.exe");
  EXPECT_EQ(ApplyOverwriteOption(2, &p, [](const std::string&) { return false; }), OverwriteResult::kRenumbered);
  EXPECT_EQ(std::string(p.Get()), dir_.File("New#02.exe"));
}

TEST(AudioInputs, TheStereoMixIsPreferredAndTiesGoToTheFirst) {
  EXPECT_EQ(InputScore("Microphone"), 2);
  EXPECT_EQ(InputScore("Line In"), 0);
  EXPECT_EQ(InputScore("Stereo Mix"), 18);
  EXPECT_EQ(InputScore("WAVE OUT MIX"), 3 + 4 + 8);
  EXPECT_EQ(BestInput({"Microphone", "Line In", "Stereo Mix"}), 2);
  EXPECT_EQ(BestInput({"Line In", "CD Audio"}), 0);
  EXPECT_EQ(BestInput({}), -1);
  // The Chinese names as the mixer gives them in the GBK code page:
  // "stereo mix" (7 + 5) beats "microphone" (1).
  EXPECT_EQ(InputScore("\xC1\xA2\xCC\xE5\xC9\xF9\xBB\xEC\xD2\xF4"), 12);
  EXPECT_EQ(BestInput({"\xC2\xF3\xBF\xCB\xB7\xE7", "\xC1\xA2\xCC\xE5\xC9\xF9\xBB\xEC\xD2\xF4"}), 1);
}

TEST(FrameRate, UpToThirtySilentlyMoreAsksOnce) {
  FrameRateConfirmation fps(15);
  EXPECT_FALSE(fps.NeedsQuestion("25"));
  fps.Confirm("25");
  EXPECT_EQ(fps.Confirmed(), 25);
  EXPECT_FALSE(fps.NeedsQuestion("30"));
  EXPECT_TRUE(fps.NeedsQuestion("60"));
  fps.Confirm("60");  // the user said yes
  EXPECT_FALSE(fps.NeedsQuestion("60"));
  EXPECT_TRUE(fps.NeedsQuestion("61"));
  EXPECT_FALSE(fps.NeedsQuestion("abc"));
  EXPECT_EQ(FormatText(page_texts::kFpsTooHigh, 1, 30).find("between 1fps and 30fps.\n\nDo you"), 116u);
}

TEST(OutputFormats, ListItemsFilterAndTheFormatOfAChosenName) {
  const std::vector<OutputFormatName>& f = OutputFormatNames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(FormatListItem(f[0]), "AVI file");
  EXPECT_EQ(FormatListItem(f[1]), "WMV file");
  EXPECT_EQ(FormatListItem(f[2]), "EXE file");
  EXPECT_EQ(SaveDialogFilter(f, 2),
            "Executable File (.exe)|*.exe|Audio Video Interleaved (.avi)|*.avi|Windows Media Video (.wmv)|*.wmv|"
            "All Files (*.*)|*.*||");
  EXPECT_EQ(SaveDialogFilter(f, 0).rfind("Audio Video Interleaved (.avi)|*.avi|Windows Media Video", 0), 0u);
  EXPECT_EQ(FormatOfPath(f, "C:\\videos\\clip.wmv"), 1);
  EXPECT_EQ(FormatOfPath(f, "C:\\videos\\clip.WMV"), -1) << "the comparison is exact";
  EXPECT_EQ(FormatOfPath(f, "C:\\videos\\clip"), -1);
}

// The region edits take what the screens hold: a portrait 4K screen's 3840
// rows and a 5K screen's 5120 columns; small screens keep 4000 and 3000.
TEST(RegionLimits, FollowTheVirtualScreenAndNeverShrink) {
  const RegionFieldLimits portrait = RegionLimitsFor(2160, 3840);
  EXPECT_EQ(portrait.height, 3840);
  EXPECT_EQ(portrait.top, 3840);
  EXPECT_EQ(portrait.width, 4000);
  const RegionFieldLimits wide = RegionLimitsFor(5120 + 1920, 2880);  // a 5K screen beside a 1080p one
  EXPECT_EQ(wide.width, 7040);
  EXPECT_EQ(wide.left, 7040);
  EXPECT_EQ(wide.height, 3000);
  const RegionFieldLimits small = RegionLimitsFor(1024, 768);
  EXPECT_EQ(small.width, 4000);
  EXPECT_EQ(small.height, 3000);
}

// A damaged stored list index takes the first place instead of asking the
// list for millions of placeholder items.
TEST(StoredListPlaces, ADamagedIndexTakesTheFirstPlace) {
  EXPECT_EQ(StoredListPlace(2, 3), 2);
  EXPECT_EQ(StoredListPlace(3, 3), 0);
  EXPECT_EQ(StoredListPlace(-1, 3), 0);
  EXPECT_EQ(StoredListPlace(0x7FFFFFFF, kCodecListPlaces), 0);
  EXPECT_EQ(StoredListPlace(40, kCodecListPlaces), 40);
}

TEST(TrayMenu, LabelsAndStatesFollowTheRecording) {
  std::vector<TrayMenuItem> idle = TrayMenuItems(false, false, "F2", "F3");
  ASSERT_EQ(idle.size(), 3u);
  EXPECT_FALSE(idle[0].grayed);
  EXPECT_EQ(idle[1].label, "Start <F2>");
  EXPECT_EQ(idle[2].label, "Pause <F3>");
  EXPECT_TRUE(idle[2].grayed);
  std::vector<TrayMenuItem> rec = TrayMenuItems(true, false, "Ctrl + F2", "F3");
  EXPECT_TRUE(rec[0].grayed);
  EXPECT_EQ(rec[1].label, "Stop <Ctrl + F2>");
  EXPECT_EQ(rec[2].label, "Pause <F3>");
  EXPECT_FALSE(rec[2].grayed);
  std::vector<TrayMenuItem> paused = TrayMenuItems(true, true, "F2", "F3");
  EXPECT_EQ(paused[2].label, "Resume <F3>");
  EXPECT_FALSE(paused[2].grayed);
  EXPECT_EQ(paused[1].command, kCmdStartStop);
}

}  // namespace
}  // namespace kmr
