#include "shared/path_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/system/system.h"

namespace kmr {
namespace {

// Test paths are written with "/" and turned into the platform's separator.
std::string P(std::string s) {
  for (char& c : s) {
    if (c == '/') c = platform::kPathSeparator;
  }
  return s;
}

std::string Numbered(const char* path) {
  PathName p(P(path).c_str());
  EXPECT_TRUE(p.NextNumber(2, "#"));
  return p.Get();
}

TEST(PathName, SplitsDirectoryNameAndExtension) {
  PathName p(P("/video/out/clip.take.avi").c_str());
  std::string s;
  ASSERT_TRUE(p.Directory(&s, false));
  EXPECT_EQ(s, P("/video/out"));
  ASSERT_TRUE(p.Directory(&s, true));
  EXPECT_EQ(s, P("/video/out/"));
  ASSERT_TRUE(p.Name(&s, false));
  EXPECT_EQ(s, "clip.take");
  ASSERT_TRUE(p.Name(&s, true));
  EXPECT_EQ(s, "clip.take.avi");
  ASSERT_TRUE(p.Extension(&s, true));
  EXPECT_EQ(s, ".avi");
  ASSERT_TRUE(p.Extension(&s, false));
  EXPECT_EQ(s, "avi");
}

TEST(PathName, PathsWithoutSeparatorOrExtension) {
  PathName p("clip");
  std::string s = "x";
  ASSERT_TRUE(p.Directory(&s, true));
  EXPECT_EQ(s, "");
  ASSERT_TRUE(p.Name(&s, false));
  EXPECT_EQ(s, "clip");
  ASSERT_TRUE(p.Extension(&s, true));
  EXPECT_EQ(s, "");
  // A dot in a directory name is not an extension.
  PathName q(P("/a.b/clip").c_str());
  ASSERT_TRUE(q.Extension(&s, true));
  EXPECT_EQ(s, "");
  ASSERT_TRUE(q.ReplaceExtension("exe"));
  EXPECT_EQ(std::string(q.Get()), P("/a.b/clip.exe"));
}

TEST(PathName, ReplaceExtensionAddsTheDotWhenMissing) {
  PathName p(P("/v/clip.avi").c_str());
  ASSERT_TRUE(p.ReplaceExtension("wmv"));
  EXPECT_EQ(std::string(p.Get()), P("/v/clip.wmv"));
  ASSERT_TRUE(p.ReplaceExtension(".exe"));
  EXPECT_EQ(std::string(p.Get()), P("/v/clip.exe"));
}

TEST(PathName, CombineKeepsNameAndAddsSeparatorOnce) {
  PathName p(P("/old/dir/morvin.exe").c_str());
  ASSERT_TRUE(p.Combine(P("/new").c_str()));
  EXPECT_EQ(std::string(p.Get()), P("/new/morvin.exe"));
  ASSERT_TRUE(p.Combine(P("/other/").c_str()));
  EXPECT_EQ(std::string(p.Get()), P("/other/morvin.exe"));
}

TEST(PathName, RefusesTextThatDoesNotFit) {
  PathName p("keep");
  EXPECT_FALSE(p.Set(nullptr));
  EXPECT_FALSE(p.Set(std::string(kMaxPath, 'a').c_str()));
  EXPECT_EQ(std::string(p.Get()), "keep");
  EXPECT_TRUE(p.Set(std::string(kMaxPath - 1, 'a').c_str()));
  EXPECT_FALSE(p.ReplaceExtension("avi"));
}

TEST(PathName, TrailingNumberNeedsTheSeparator) {
  EXPECT_EQ(PathName("clip#07.avi").TrailingNumber("#"), 7);
  EXPECT_EQ(PathName("take3.avi").TrailingNumber("#"), 0);
  EXPECT_EQ(PathName("take3.avi").TrailingNumber(nullptr), 3);
  EXPECT_EQ(PathName("clip.avi").TrailingNumber("#"), 0);
  EXPECT_EQ(PathName("clip#99999999999999999999.avi").TrailingNumber("#"), LONG_MAX);
}

TEST(PathName, NextNumberFollowsTheOutputNamingRule) {
  EXPECT_EQ(Numbered("/v/clip.avi"), P("/v/clip#01.avi"));
  EXPECT_EQ(Numbered("/v/clip#01.avi"), P("/v/clip#02.avi"));
  EXPECT_EQ(Numbered("/v/clip#07.avi"), P("/v/clip#08.avi"));
  EXPECT_EQ(Numbered("/v/clip#99.avi"), P("/v/clip#100.avi"));
  EXPECT_EQ(Numbered("/v/take3.avi"), P("/v/take3#01.avi"));
  EXPECT_EQ(Numbered("noext"), "noext#01");
}

TEST(PathName, SetTrailingNumberPadsToTheMinimumDigits) {
  PathName p("a#5.kmr");
  ASSERT_TRUE(p.SetTrailingNumber(42, 4, "#"));
  EXPECT_EQ(std::string(p.Get()), "a#0042.kmr");
  ASSERT_TRUE(p.SetTrailingNumber(123456, 2, "#"));
  EXPECT_EQ(std::string(p.Get()), "a#123456.kmr");
}

class PathNameOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    PathName self;
    ASSERT_TRUE(self.SetToModulePath());
    std::string dir;
    ASSERT_TRUE(self.Directory(&dir, true));
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = dir + "pathname_" + info->name();
  }
  std::string root_;
};

TEST_F(PathNameOnDisk, ModulePathExists) {
  PathName self;
  ASSERT_TRUE(self.SetToModulePath());
  EXPECT_TRUE(self.Exists());
  EXPECT_FALSE(PathName(P(root_ + "/no/such/file").c_str()).Exists());
}

TEST_F(PathNameOnDisk, CreateDirectoriesMakesEveryLevel) {
  PathName file(P(root_ + "/a/b/c/clip.exe").c_str());
  ASSERT_TRUE(file.CreateDirectories(false));
  EXPECT_TRUE(PathName(P(root_ + "/a/b/c").c_str()).Exists());
  EXPECT_FALSE(file.Exists());
  // Existing prefixes are not an error; the last level on request.
  PathName dir(P(root_ + "/a/b/d").c_str());
  ASSERT_TRUE(dir.CreateDirectories(true));
  EXPECT_TRUE(dir.Exists());
}

TEST_F(PathNameOnDisk, NumberUntilFreeSkipsExistingFiles) {
  PathName dir(P(root_ + "/n").c_str());
  ASSERT_TRUE(dir.CreateDirectories(true));
  for (const char* name : {"/n/clip.avi", "/n/clip#01.avi", "/n/clip#02.avi"}) {
    FILE* f = std::fopen(P(root_ + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  PathName out(P(root_ + "/n/clip.avi").c_str());
  ASSERT_TRUE(NumberUntilFree(&out));
  EXPECT_EQ(std::string(out.Get()), P(root_ + "/n/clip#03.avi"));
}

}  // namespace
}  // namespace kmr
