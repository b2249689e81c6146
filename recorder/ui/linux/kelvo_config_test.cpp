#include "recorder/ui/linux/kelvo_config.h"

#include <gtest/gtest.h>

#include <algorithm>

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

}  // namespace
}  // namespace kmr
