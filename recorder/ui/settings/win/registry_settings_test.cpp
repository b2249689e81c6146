// The pages' settings in the registry: the keys and value types a first run
// creates, reading back, stored negatives, and the log-on Run value.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "recorder/ui/settings/settings_pages.h"
#include "recorder/ui/settings/win/registry_settings_store.h"

namespace kmr {
namespace {

// A root of this test's own under the current user, removed afterwards.
class RegistrySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = "Software\\NorvaneTests\\Kelvo" + std::to_string(GetCurrentProcessId());
    RegDeleteTreeOrKeys(root_);
  }
  void TearDown() override { RegDeleteTreeOrKeys("Software\\NorvaneTests"); }

  // Deletes a key and everything under it (RegDeleteTree is not on XP).
  static void RegDeleteTreeOrKeys(const std::string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
      char name[256];
      for (;;) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(k, 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        RegDeleteTreeOrKeys(path + "\\" + name);
      }
      RegCloseKey(k);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  }

  // The type and the raw bytes of one stored value.
  bool Query(const std::string& key, const char* name, DWORD* type, std::string* bytes) {
    HKEY k = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (root_ + "\\" + key).c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) {
      return false;
    }
    char data[512];
    DWORD size = sizeof(data);
    const bool ok = RegQueryValueExA(k, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS;
    RegCloseKey(k);
    if (ok) bytes->assign(data, size);
    return ok;
  }

  void SetRaw(const std::string& key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (root_ + "\\" + key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(k);
  }

  RecorderSettings LoadFresh() {
    RegistrySettingsStore store(HKEY_CURRENT_USER, root_);
    RecorderSettings s;
    s.Load(&store, "C:\\Users\\u\\My Documents\\");
    return s;
  }

  std::string root_;
};

TEST_F(RegistrySettingsTest, FirstRunCreatesTheFourKeysWithTypedDefaults) {
  const RecorderSettings s = LoadFresh();
  EXPECT_EQ(s.video.path, "C:\\Users\\u\\My Documents\\Screen Videos\\New.avi");
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(Query("Video", "Path", &type, &bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, std::string("C:\\Users\\u\\My Documents\\Screen Videos\\New.avi", 45) + '\0')
      << "texts are written with their terminating zero";
  ASSERT_TRUE(Query("Video", "Start HotKey", &type, &bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(bytes, std::string("\x00\x00\x71\x00", 4)) << "F2 alone, little-endian";
  ASSERT_TRUE(Query("Video", "Codec", &type, &bytes));
  EXPECT_EQ(bytes, std::string("\xFF\xFF\xFF\xFF", 4));
  ASSERT_TRUE(Query("Audio", "Volume", &type, &bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(bytes, std::string("\xDF\xB1\x00\x00", 4));  // 45535
  ASSERT_TRUE(Query("Info", "Title", &type, &bytes));
  EXPECT_EQ(bytes, std::string("Untitled", 9));
  ASSERT_TRUE(Query("Info", "Author", &type, &bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, std::string(1, '\0'));
  ASSERT_TRUE(Query("Options", "Overwrite Option", &type, &bytes));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  ASSERT_TRUE(Query("Options", "Show Border", &type, &bytes));
  EXPECT_EQ(bytes, std::string("\x01\x00\x00\x00", 4));
}

TEST_F(RegistrySettingsTest, StoredNegativesMissingValuesAndOddTypes) {
  LoadFresh();
  const int32_t device = -7, quality = 12;
  SetRaw("Audio", "Device", REG_DWORD, &device, 4);
  SetRaw("Audio", "Quality", REG_DWORD, &quality, 4);
  // The stored type is not examined: any 4 bytes read as a number.
  SetRaw("Video", "FPS", REG_BINARY, "\x19\x00\x00\x00", 4);
  // Too short to be a number: the default stays.
  SetRaw("Video", "Format", REG_BINARY, "\x02", 1);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (root_ + "\\Options").c_str(), 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  RegDeleteValueA(k, "Show Splash");
  const DWORD zero = 0;
  RegSetValueExA(k, "Show Border", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), 4);
  RegCloseKey(k);

  const RecorderSettings s = LoadFresh();
  EXPECT_EQ(s.audio.device, 0);
  EXPECT_EQ(s.audio.quality, 12);
  EXPECT_EQ(s.video.fps, 25);
  EXPECT_EQ(s.video.format, 0);
  EXPECT_EQ(s.options.show_splash, 1);
  EXPECT_EQ(s.options.show_border, 0);
}

TEST_F(RegistrySettingsTest, ValuesComeBackAndTheRegionOnlyFromTheExitSave) {
  RecorderSettings s = LoadFresh();
  s.video.path = "D:\\clips\\talk.exe";
  s.video.format = 2;
  s.video.pause_hot_key = HotKeyValue(0x50, 2);
  s.video.left = 33;
  s.info.description = "first\r\nsecond";
  RegistrySettingsStore store(HKEY_CURRENT_USER, root_);
  s.Save(&store, false);
  RecorderSettings back = LoadFresh();
  EXPECT_EQ(back.video.path, "D:\\clips\\talk.exe");
  EXPECT_EQ(back.video.format, 2);
  EXPECT_EQ(back.video.pause_hot_key, 0x500002u);
  EXPECT_EQ(back.info.description, "first\r\nsecond");
  EXPECT_EQ(back.video.left, 0);
  s.Save(&store, true);
  EXPECT_EQ(LoadFresh().video.left, 33);
}

TEST_F(RegistrySettingsTest, TheRunValueFollowsAutoRunAndTheRunKeyIsNeverCreated) {
  const std::string run = root_ + "\\Run";
  LogonStart missing(HKEY_CURRENT_USER, run);
  EXPECT_FALSE(missing.Apply(true, "C:\\Program Files\\Kelvo\\kelvo.exe"));
  HKEY k = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, run.c_str(), 0, KEY_READ, &k), ERROR_SUCCESS)
      << "the Run key must not be created";

  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, run.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  LogonStart logon(HKEY_CURRENT_USER, run);
  ASSERT_TRUE(logon.Apply(true, "C:\\Program Files\\Kelvo\\kelvo.exe"));
  char data[300] = {};
  DWORD size = sizeof(data), type = 0;
  ASSERT_EQ(RegQueryValueExA(k, "Kelvo", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(data, "\"C:\\Program Files\\Kelvo\\kelvo.exe\"");
  EXPECT_TRUE(logon.Apply(false, ""));
  size = sizeof(data);
  EXPECT_EQ(RegQueryValueExA(k, "Kelvo", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(logon.Apply(false, "")) << "removing an absent value is not a failure";
  RegCloseKey(k);
}

TEST(WindowsDocumentsFolder, NamesAnExistingFolderWithATrailingBackslash) {
  const std::string docs = WindowsDocumentsFolder();
  ASSERT_GE(docs.size(), 4u);
  EXPECT_EQ(docs.back(), '\\');
  const DWORD attributes = GetFileAttributesA(docs.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << docs;
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace
}  // namespace kmr
