// The pages' settings over the Linux file store: first run, the rules for
// stored negatives, what each save writes, and a save that crashes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "recorder/ui/settings/posix/ini_settings_store.h"
#include "recorder/ui/settings/settings_pages.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

class SettingsTest : public ::testing::Test {
 protected:
  std::string Conf() const { return dir_.File("config/norvane/kelvo.conf"); }
  RecorderSettings LoadFresh() {
    IniSettingsStore store(Conf());
    RecorderSettings s;
    s.Load(&store, "/home/u/Documents/");
    return s;
  }
  testing::TempDir dir_;
};

TEST_F(SettingsTest, FirstRunWritesEveryKeyWithItsDefaults) {
  const RecorderSettings s = LoadFresh();
  EXPECT_EQ(s.video.path, "/home/u/Documents/Screen Videos/New.avi");
  EXPECT_EQ(s.video.codec, -1);
  EXPECT_EQ(s.video.start_hot_key, 0x710000u);
  EXPECT_EQ(s.audio.volume, 45535);
  EXPECT_EQ(s.info.title, "Untitled");
  EXPECT_EQ(s.options.show_border, 1);
  const std::string file = ReadFile(Conf());
  for (const char* line : {"[Video]", "Path=/home/u/Documents/Screen Videos/New.avi", "Format=0", "Codec=-1",
                           "Capture Option=1", "Width=640", "Height=480", "FPS=15", "Pause HotKey=7471104",
                           "Start HotKey=7405568", "[Audio]", "Record Audio=1", "Device=1", "Input=-1",
                           "Sample Rate=1", "Quality=5", "Volume=45535", "[Info]", "Title=Untitled", "Author=",
                           "[Options]", "Auto Run=0", "Show Splash=1", "Hide Wallpaper=1", "Overwrite Option=0"}) {
    EXPECT_NE(file.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << file;
  }
}

TEST_F(SettingsTest, StoredNegativesAndWrongKindsFollowTheirRules) {
  LoadFresh();
  {
    IniSettingsStore store(Conf());
    store.WriteNumber("Audio", "Device", -7);
    store.WriteNumber("Audio", "Input", -3);
    store.WriteNumber("Audio", "Sample Rate", -1);
    store.WriteNumber("Audio", "Quality", 12);
    store.WriteNumber("Audio", "Volume", -5);
    store.WriteText("Video", "FPS", "fast");
    store.WriteNumber("Video", "Codec", -1);
    ASSERT_TRUE(store.Flush());
  }
  // A value missing from the file keeps its default.
  std::string file = ReadFile(Conf());
  const size_t at = file.find("Always On Top=0\n");
  ASSERT_NE(at, std::string::npos);
  file.erase(at, std::string("Always On Top=0\n").size());
  std::ofstream(Conf()) << file;

  const RecorderSettings s = LoadFresh();
  EXPECT_EQ(s.audio.device, 0);       // "[Default Audio Device]"
  EXPECT_EQ(s.audio.input, 0);        // a stored negative reads as 0 (only the default is -1)
  EXPECT_EQ(s.audio.sample_rate, 1);  // 22050 Hz
  EXPECT_EQ(s.audio.quality, 12);     // the page's list clamps it
  EXPECT_EQ(s.audio.volume, 45535);
  EXPECT_EQ(s.video.fps, 15);         // text where a number belongs
  EXPECT_EQ(s.video.codec, -1);       // negatives of other values stay as they are
  EXPECT_EQ(s.options.always_on_top, 0);
}

TEST_F(SettingsTest, EveryValueComesBackAndTheRegionOnlyFromTheExitSave) {
  RecorderSettings s = LoadFresh();
  s.video.path = "/tmp/a\\b\nc.exe";  // kept through the file's escapes
  s.video.format = 2;
  s.video.fps = 25;
  s.video.start_hot_key = HotKeyValue(0x41, 2 | 4);
  s.video.left = 10;
  s.video.width = 320;
  s.info.description = "two\nlines";
  s.options.overwrite_option = 2;
  {
    IniSettingsStore store(Conf());
    s.Save(&store, /*with_region=*/false);
  }
  RecorderSettings back = LoadFresh();
  EXPECT_EQ(back.video.path, "/tmp/a\\b\nc.exe");
  EXPECT_EQ(back.video.format, 2);
  EXPECT_EQ(back.video.fps, 25);
  EXPECT_EQ(back.video.start_hot_key, 0x410006u);
  EXPECT_EQ(back.info.description, "two\nlines");
  EXPECT_EQ(back.options.overwrite_option, 2);
  EXPECT_EQ(back.video.left, 0) << "the region is written only at exit";
  EXPECT_EQ(back.video.width, 640);
  {
    IniSettingsStore store(Conf());
    s.Save(&store, /*with_region=*/true);
  }
  back = LoadFresh();
  EXPECT_EQ(back.video.left, 10);
  EXPECT_EQ(back.video.width, 320);
}

// A crash between writing the new file and renaming it leaves the old
// settings whole; the next save goes through.
TEST_F(SettingsTest, ACrashDuringASaveLeavesTheOldFileWhole) {
  RecorderSettings s = LoadFresh();
  const std::string before = ReadFile(Conf());
  s.video.fps = 30;
  {
    IniSettingsStore store(Conf());
    store.SetBeforeRename([] { return false; });
    s.Save(&store, false);
  }
  EXPECT_EQ(ReadFile(Conf()), before);
  EXPECT_EQ(LoadFresh().video.fps, 15);
  {
    IniSettingsStore store(Conf());
    s.Save(&store, false);
  }
  EXPECT_EQ(LoadFresh().video.fps, 30);
}

TEST(SettingsNames, EveryValueIsListedOnceWithItsKind) {
  size_t n = 0;
  const SettingInfo* all = AllSettings(&n);
  EXPECT_EQ(n, 28u);
  ASSERT_NE(FindSetting("Video", "Path"), nullptr);
  EXPECT_TRUE(FindSetting("Video", "Path")->is_text);
  EXPECT_FALSE(FindSetting("Audio", "Volume")->is_text);
  EXPECT_EQ(FindSetting("Video", "Colour"), nullptr);
  EXPECT_EQ(FindSetting("Audio", "Path"), nullptr);
  for (size_t i = 0; i < n; ++i) EXPECT_EQ(FindSetting(all[i].key, all[i].name), &all[i]);
}

}  // namespace
}  // namespace kmr
