#include "recorder/ui/linux/kelvo_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "recorder/ui/linux/kelvo_options.h"
#include "recorder/ui/settings/posix/ini_settings_store.h"
#include "shared/testing/temp_dir.h"

namespace kmr {
namespace {

class KelvoConfigTest : public ::testing::Test {
 protected:
  int Run(const std::vector<std::string>& args) {
    out_.clear();
    err_.clear();
    IniSettingsStore store(dir_.File("kelvo.conf"));
    return RunKelvoConfig(args, &store, "/docs/", &out_, &err_);
  }
  testing::TempDir dir_;
  std::string out_, err_;
};

TEST_F(KelvoConfigTest, ListsEveryValueWithItsKey) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(out_.rfind("Video/Path = /docs/Screen Videos/New.avi\n", 0), 0u) << out_;
  EXPECT_NE(out_.find("\nAudio/Volume = 45535\n"), std::string::npos);
  EXPECT_NE(out_.find("\nOptions/Overwrite Option = 0\n"), std::string::npos);
  EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 28);
}

TEST_F(KelvoConfigTest, SetsAndGetsOneValueAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(Run({"set", "Video/FPS", "30"}), 0) << err_;
  EXPECT_EQ(Run({"get", "Video/FPS"}), 0);
  EXPECT_EQ(out_, "30\n");
  EXPECT_EQ(Run({"set", "Video/Start HotKey", "0x410006"}), 0) << err_;
  EXPECT_EQ(Run({"get", "Video/Start HotKey"}), 0);
  EXPECT_EQ(out_, "4259846\n");
  EXPECT_EQ(Run({"set", "Info/Title", "Lesson 3"}), 0);
  EXPECT_EQ(Run({"get", "Info/Title"}), 0);
  EXPECT_EQ(out_, "Lesson 3\n");

  EXPECT_EQ(Run({"set", "Video/FPS", "fast"}), 2);
  EXPECT_EQ(err_, "Video/FPS takes a whole number, not 'fast'");
  EXPECT_EQ(Run({"set", "Video/Colour", "1"}), 2);
  EXPECT_EQ(err_, "no setting 'Video/Colour' (kelvo config lists them)");
  EXPECT_EQ(Run({"get", "FPS"}), 2);
  EXPECT_EQ(Run({"set", "Video/FPS"}), 2);
  EXPECT_EQ(Run({"get", "Video/FPS"}), 0);
  EXPECT_EQ(out_, "30\n") << "a refused change changes nothing";
}

TEST(KelvoDefaults, TheSettingsGiveTheDefaultsAndTheCommandLineChangesThem) {
  RecorderSettings s;
  s.video.SetDefaults("/docs/");
  s.video.capture_option = 1;
  s.video.left = 5;
  s.video.top = 6;
  s.video.width = 70;
  s.video.height = 80;
  s.video.fps = 24;
  s.options.show_border = 0;
  KelvoOptions o;
  ApplySettings(s, &o);
  EXPECT_EQ(o.area, KelvoOptions::Area::kRegion);
  EXPECT_EQ(o.x, 5);
  EXPECT_EQ(o.height, 80);
  EXPECT_EQ(o.fps_text, "24");
  EXPECT_FALSE(o.border);
  EXPECT_EQ(o.output, "/docs/Screen Videos/New.avi");
  EXPECT_TRUE(o.output_from_settings);
  EXPECT_EQ(o.codec, "lossless") << "the AVI list's first codec";
  s.video.format = 2;  // the self-playing output's list: lossless, lossy
  s.video.codec = 1;
  ApplySettings(s, &o);
  EXPECT_EQ(o.codec, "lossy");
  s.video.codec = 7;  // beyond the list
  ApplySettings(s, &o);
  EXPECT_EQ(o.codec, "lossless");
  s.video.format = 0;
  ApplySettings(s, &o);
  std::string e;
  ASSERT_TRUE(ParseKelvoOptions({"kelvo", "record", "--full", "--border", "-o", "x"}, &o, &e)) << e;
  EXPECT_EQ(o.area, KelvoOptions::Area::kFull);
  EXPECT_TRUE(o.border);
  EXPECT_FALSE(o.output_from_settings);

  s.video.capture_option = 2;  // one window: the user picks it
  ApplySettings(s, &o);
  EXPECT_EQ(o.area, KelvoOptions::Area::kPickWindow);
  s.video.capture_option = 1;
  s.video.width = -3;  // a damaged region records the screen
  ApplySettings(s, &o);
  EXPECT_EQ(o.area, KelvoOptions::Area::kFull);
}

TEST(KelvoDefaults, OutputPathsAreMadeNumberedOrKept) {
  testing::TempDir dir;
  KelvoOptions o;
  // The stored path follows the stored format: AVI to self-playing.
  o.output = dir.File("Documents/Screen Videos/New.avi");
  o.output_from_settings = true;
  o.format = 2;
  std::string path, notice, error;
  const auto never = [](const std::string&) { return false; };
  ASSERT_TRUE(ResolveOutputPath(o, never, &path, &notice, &error)) << error;
  EXPECT_EQ(path, dir.File("Documents/Screen Videos/New.exe"));
  EXPECT_EQ(notice, "");
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("Documents/Screen Videos"))) << "made on first run";

  testing::WriteAll(path, std::vector<uint8_t>(10, 1));
  testing::WriteAll(dir.File("Documents/Screen Videos/New#01.exe"), std::vector<uint8_t>(10, 1));
  o.overwrite_option = 2;
  ASSERT_TRUE(ResolveOutputPath(o, never, &path, &notice, &error)) << error;
  EXPECT_EQ(path, dir.File("Documents/Screen Videos/New#02.exe"));

  o.overwrite_option = 1;
  std::string asked;
  EXPECT_FALSE(ResolveOutputPath(o, [&](const std::string& p) { asked = p; return false; }, &path, &notice, &error));
  EXPECT_EQ(asked, dir.File("Documents/Screen Videos/New.exe"));
  EXPECT_NE(error.find("was kept"), std::string::npos);
  EXPECT_TRUE(ResolveOutputPath(o, [](const std::string&) { return true; }, &path, &notice, &error));
  EXPECT_EQ(path, dir.File("Documents/Screen Videos/New.exe"));

  // A path given on the command line is taken as it is, folder and all.
  o.output = dir.File("no/such/folder/take");
  o.output_from_settings = false;
  ASSERT_TRUE(ResolveOutputPath(o, never, &path, &notice, &error));
  EXPECT_EQ(path, dir.File("no/such/folder/take"));
  EXPECT_EQ(notice, "");
  EXPECT_FALSE(std::filesystem::exists(dir.File("no")));
  o.output = std::string(300, 'a');
  EXPECT_FALSE(ResolveOutputPath(o, never, &path, &notice, &error));
}

TEST(KelvoOutput, TheExtensionOrFormatPicksTheWriter) {
  EXPECT_EQ(OutputKindForPath("/v/clip.avi"), OutputKind::kAvi);
  EXPECT_EQ(OutputKindForPath("/v/clip.WMV"), OutputKind::kWindowsMedia);
  EXPECT_EQ(OutputKindForPath("/v/clip.asf"), OutputKind::kWindowsMedia);
  EXPECT_EQ(OutputKindForPath("/v/clip.mkv"), OutputKind::kMatroska);
  EXPECT_EQ(OutputKindForPath("/v/clip.mp4"), OutputKind::kMp4);
  EXPECT_EQ(OutputKindForPath("/v/clip.exe"), OutputKind::kExecutable);
  EXPECT_EQ(OutputKindForPath("/v.avi/clip"), OutputKind::kExecutable);  // a folder's dot
  EXPECT_EQ(OutputKindForPath("clip.mov"), OutputKind::kExecutable);
  EXPECT_EQ(Describe(OutputKind::kMatroska).format_index, 0);
  EXPECT_EQ(Describe(OutputKind::kWindowsMedia).format_index, 1);

  KelvoOptions o;
  std::string error;
  ASSERT_TRUE(ParseKelvoOptions({"kelvo", "record", "-o", "take.bin", "--format", "MKV", "--title", "Demo",
                                 "--description", ""},
                                &o, &error))
      << error;
  EXPECT_EQ(ChosenOutputKind(o, "take.bin"), OutputKind::kMatroska);
  EXPECT_EQ(o.title, "Demo");
  EXPECT_EQ(o.description, "");
  EXPECT_FALSE(ParseKelvoOptions({"kelvo", "record", "--format", "mov"}, &o, &error));
  EXPECT_NE(error.find("exe, avi, wmv, mkv, mp4"), std::string::npos);

  // The settings' path takes the chosen format's extension.
  testing::TempDir dir;
  KelvoOptions stored;
  stored.output = dir.File("New.exe");
  stored.output_from_settings = true;
  stored.format = 2;
  stored.format_option = "wmv";
  std::string path, notice;
  ASSERT_TRUE(ResolveOutputPath(stored, [](const std::string&) { return false; }, &path, &notice, &error));
  EXPECT_EQ(path, dir.File("New.wmv"));
}

}  // namespace
}  // namespace kmr
