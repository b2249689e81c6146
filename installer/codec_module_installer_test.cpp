// The codec module's install and removal over a scripted system folder and
// Drivers32 key: what is written, what a failure undoes, what removal leaves
// alone, and tessup's switches, messages and exit codes for them.
#include "installer/codec_module_installer.h"

#include <gtest/gtest.h>

#include <map>

#include "installer/driver_installer.h"

namespace kmr {
namespace {

class ScriptedCodecSystem : public CodecModuleSystem {
 public:
  std::map<std::string, std::string> files;    // path → contents
  std::map<std::string, std::string> entries;  // Drivers32 values
  std::string fail_write;                      // an entry whose write fails
  bool copy_fails = false, delete_fails = false;

  std::string ProgramDirectory() override { return "C:\\pkg\\"; }
  std::string SystemDirectory() override { return "C:\\WINDOWS\\system32\\"; }
  bool FileExists(const std::string& path) override { return files.count(path) != 0; }
  bool CopyOver(const std::string& from, const std::string& to) override {
    if (copy_fails || files.count(from) == 0) return false;
    files[to] = files[from];
    return true;
  }
  bool RemoveFile(const std::string& path) override { return !delete_fails && files.erase(path) == 1; }
  bool ReadDriverEntry(const std::string& name, std::string* data) override {
    const auto it = entries.find(name);
    if (it == entries.end()) return false;
    *data = it->second;
    return true;
  }
  bool WriteDriverEntry(const std::string& name, const std::string& data) override {
    if (name == fail_write) return false;
    entries[name] = data;
    return true;
  }
  bool DeleteDriverEntry(const std::string& name) override { return entries.erase(name) == 1; }
};

const std::string kPackaged = "C:\\pkg\\kmrv.dll";
const std::string kInstalled = "C:\\WINDOWS\\system32\\kmrv.dll";

TEST(CodecModule, InstallCopiesTheModuleAndNamesItForBothCodes) {
  ScriptedCodecSystem s;
  s.files[kPackaged] = "module v2";
  s.files[kInstalled] = "module v1";  // an older one is replaced
  std::string error;
  ASSERT_TRUE(InstallCodecModule(&s, &error)) << error;
  EXPECT_EQ(s.files[kInstalled], "module v2");
  EXPECT_EQ(s.entries["vidc.KMRV"], "kmrv.dll");
  EXPECT_EQ(s.entries["vidc.kmrv"], "kmrv.dll");
}

TEST(CodecModule, AFailedInstallPutsBackWhatWasThere) {
  ScriptedCodecSystem s;
  std::string error;
  EXPECT_FALSE(InstallCodecModule(&s, &error));
  EXPECT_EQ(error, codec_texts::kMissingModule);

  s.files[kPackaged] = "module";
  s.entries["vidc.KMRV"] = "old.dll";
  s.fail_write = "vidc.kmrv";
  EXPECT_FALSE(InstallCodecModule(&s, &error));
  EXPECT_EQ(error, codec_texts::kInstallFailed);
  EXPECT_EQ(s.entries.size(), 1u);
  EXPECT_EQ(s.entries["vidc.KMRV"], "old.dll") << "the earlier entry is back";
  EXPECT_EQ(s.files.count(kInstalled), 0u) << "the copied module is taken out again";

  s.fail_write.clear();
  s.copy_fails = true;
  EXPECT_FALSE(InstallCodecModule(&s, &error));
  EXPECT_EQ(s.entries["vidc.KMRV"], "old.dll");
}

TEST(CodecModule, RemovalTakesOutOnlyWhatNamesTheModule) {
  ScriptedCodecSystem s;
  std::string error;
  EXPECT_FALSE(RemoveCodecModule(&s, &error));
  EXPECT_EQ(error, codec_texts::kNotFound);

  s.files[kInstalled] = "module";
  s.entries["vidc.KMRV"] = "C:\\WINDOWS\\system32\\KMRV.DLL";
  s.entries["vidc.kmrv"] = "notkmrv.dll";  // another module's
  ASSERT_TRUE(RemoveCodecModule(&s, &error)) << error;
  EXPECT_EQ(s.entries.count("vidc.KMRV"), 0u);
  EXPECT_EQ(s.entries["vidc.kmrv"], "notkmrv.dll");
  EXPECT_EQ(s.files.count(kInstalled), 0u);

  s.files[kInstalled] = "module";
  s.delete_fails = true;
  EXPECT_FALSE(RemoveCodecModule(&s, &error));
  EXPECT_EQ(error, codec_texts::kRemoveFailed) << "a file left behind is not reported as removed";
}

// What tessup needs of the system besides the codec's folder and key.
class MessagesOnly : public InstallerSystem {
 public:
  bool admin = true;
  std::vector<std::pair<Box, std::string>> shown;
  bool IsWindows2000OrLater() override { return true; }
  bool IsAdministrator() override { return admin; }
  std::string ProgramDirectory() override { return "C:\\pkg\\"; }
  std::string SystemDirectory() override { return "C:\\WINDOWS\\system32\\"; }
  bool FilesEqual(const std::string&, const std::string&) override { return false; }
  Found FindDevices(const std::string&, bool) override {
    ADD_FAILURE() << "the codec switches touch no display device";
    return Found::kNone;
  }
  bool UpdateDriver(const std::string&, const std::string&, bool*) override { return false; }
  bool CreateAndInstallDevice(const std::string&, const std::string&, bool*) override { return false; }
  bool Attach(const std::string&, const std::string&, bool) override { return false; }
  void Wait(uint32_t) override {}
  void StartWatchdog(uint32_t, int) override {}
  void StopWatchdog() override {}
  bool Show(Box box, const std::string&, const std::string& text) override {
    shown.emplace_back(box, text);
    return false;
  }
  void Reboot() override { ADD_FAILURE() << "no reboot for a codec"; }
};

TEST(CodecModule, TessupSwitchesMessagesAndExitCodes) {
  ScriptedCodecSystem codec;
  codec.files[kPackaged] = "module";
  MessagesOnly sys;
  EXPECT_EQ(RunInstaller({"tessup", "-C"}, &sys, &codec), 0);
  ASSERT_EQ(sys.shown.size(), 1u);
  EXPECT_EQ(sys.shown[0].first, InstallerSystem::Box::kInformation);
  EXPECT_EQ(sys.shown[0].second, codec_texts::kInstalled);
  EXPECT_EQ(codec.entries.size(), 2u);
  EXPECT_EQ(RunInstaller({"tessup", "-cus"}, &sys, &codec), 0);
  EXPECT_EQ(sys.shown.size(), 1u) << "silent";
  EXPECT_TRUE(codec.entries.empty());
  EXPECT_EQ(RunInstaller({"tessup", "-cu"}, &sys, &codec), -1);
  EXPECT_EQ(sys.shown.back().second, codec_texts::kNotFound);
  sys.admin = false;
  EXPECT_EQ(RunInstaller({"tessup", "-cs"}, &sys, &codec), -1);
  EXPECT_TRUE(codec.entries.empty());
  EXPECT_EQ(sys.shown.size(), 2u) << "silent";
  EXPECT_EQ(RunInstaller({"tessup", "-c"}, &sys, &codec), -1);
  EXPECT_EQ(sys.shown.back().second, codec_texts::kNeedsAdministrator);
  // A codec switch with more words, or without a codec system, is not one.
  sys.admin = true;
  EXPECT_EQ(RunInstaller({"tessup", "-c", "extra"}, &sys, &codec), -1);
  EXPECT_EQ(sys.shown.back().second, installer_texts::kInvalidCommandLine);
  EXPECT_EQ(RunInstaller({"tessup", "-c"}, &sys, nullptr), -1);
  EXPECT_EQ(sys.shown.back().second, installer_texts::kInvalidCommandLine);
}

}  // namespace
}  // namespace kmr
