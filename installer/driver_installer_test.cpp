// The installer's run over a scripted system: every row of the failure
// table with its message and exit code, silent modes, the operation in any
// letter case, the hardware ID, the attach retries and the reboot decision.
#include "installer/driver_installer.h"

#include <gtest/gtest.h>

#include <map>

namespace kmr {
namespace {

using Box = InstallerSystem::Box;

class ScriptedSystem : public InstallerSystem {
 public:
  bool windows2000 = true, admin = true;
  std::map<std::string, std::string> files;  // path → contents; missing: cannot open
  std::vector<std::string> devices;           // hardware IDs of present display devices
  bool update_ok = true, create_ok = true, ask_reboot = false;
  bool removal_refused = false;  // the system will not remove the devices
  int attach_fails = 0;  // attaches that fail before one succeeds (-1: all fail)
  // What happened.
  std::vector<std::string> calls;
  std::vector<std::string> removed;
  bool attached = false;
  int attach_value = 0;  // "Attach.ToDesktop"
  uint32_t waited = 0;
  int watchdog_code = 0;
  bool watchdog_running = false;
  std::vector<std::pair<Box, std::string>> shown;
  bool answer_yes = false;
  bool rebooted = false;

  bool IsWindows2000OrLater() override { return windows2000; }
  bool IsAdministrator() override { return admin; }
  std::string ProgramDirectory() override { return "C:\\pkg\\"; }
  std::string SystemDirectory() override { return "C:\\WINDOWS\\system32\\"; }
  bool FilesEqual(const std::string& a, const std::string& b) override {
    const auto x = files.find(a), y = files.find(b);
    return x != files.end() && y != files.end() && x->second == y->second;
  }
  Found FindDevices(const std::string& id, bool remove) override {
    calls.push_back(std::string(remove ? "remove " : "find ") + id);
    bool any = false;
    for (auto it = devices.begin(); it != devices.end();) {
      if (*it == id) {
        any = true;
        if (remove && !removal_refused) {
          removed.push_back(*it);
          it = devices.erase(it);
          continue;
        }
      }
      ++it;
    }
    if (!any) return Found::kNone;
    return remove && removal_refused ? Found::kRemovalFailed : Found::kFound;
  }
  bool UpdateDriver(const std::string& id, const std::string& inf, bool* reboot) override {
    calls.push_back("update " + id + " " + inf);
    *reboot = ask_reboot;
    if (update_ok) Install();
    return update_ok;
  }
  bool CreateAndInstallDevice(const std::string& id, const std::string& inf, bool* reboot) override {
    calls.push_back("create " + id + " " + inf);
    *reboot = ask_reboot;
    if (create_ok) {
      devices.push_back(id);
      Install();
    }
    return create_ok;
  }
  bool Attach(const std::string& service, const std::string& description, bool attach) override {
    calls.push_back(std::string(attach ? "attach " : "detach ") + service + " " + description);
    if (!attach) {
      attached = false;
      attach_value = 0;
      return true;
    }
    if (attach_fails < 0 || attach_fails-- > 0) return false;
    attached = true;
    attach_value = 1;
    return true;
  }
  void Wait(uint32_t ms) override { waited += ms; }
  void StartWatchdog(uint32_t ms, int code) override {
    EXPECT_EQ(ms, 20000u);
    watchdog_code = code;
    watchdog_running = true;
  }
  void StopWatchdog() override { watchdog_running = false; }
  bool Show(Box box, const std::string& caption, const std::string& text) override {
    shown.push_back({box, caption + "|" + text});
    return answer_yes;
  }
  void Reboot() override { rebooted = true; }

  // The package's files and the installed ones, the same or not.
  void Package(bool installed_same) {
    files["C:\\pkg\\quarn.dll"] = "dll";
    files["C:\\pkg\\quarn.sys"] = "sys";
    if (installed_same) Install();
  }
  void Install() {
    files["C:\\WINDOWS\\system32\\quarn.dll"] = files["C:\\pkg\\quarn.dll"];
    files["C:\\WINDOWS\\system32\\drivers\\quarn.sys"] = files["C:\\pkg\\quarn.sys"];
  }
};

const char* kDescription = "Norvane Screen Capture Driver";
const char* kId = "Norvane_Screen_Capture_Driver";

int Install(ScriptedSystem* s, const char* op = "-i") { return RunInstaller({"tessup", op, "quarn", kDescription}, s); }

TEST(Installer, EveryFailureShowsItsMessageAndExitsWithMinusOne) {
  struct Case {
    const char* why;
    std::vector<std::string> args;
    void (*setup)(ScriptedSystem*);
    const char* text;
  };
  const std::vector<Case> cases = {
      {"too few arguments", {"tessup", "-i", "quarn"}, [](ScriptedSystem*) {}, installer_texts::kInvalidCommandLine},
      {"another operation", {"tessup", "-x", "quarn", kDescription}, [](ScriptedSystem*) {},
       installer_texts::kInvalidCommandLine},
      {"an old system", {"tessup", "-i", "quarn", kDescription}, [](ScriptedSystem* s) { s->windows2000 = false; },
       installer_texts::kNeedsWindows2000},
      {"not an administrator", {"tessup", "-i", "quarn", kDescription}, [](ScriptedSystem* s) { s->admin = false; },
       installer_texts::kNeedsAdministrator},
      {"nothing to remove", {"tessup", "-u", "quarn", kDescription}, [](ScriptedSystem*) {}, installer_texts::kNotFound},
      {"the system refuses the removal", {"tessup", "-u", "quarn", kDescription},
       [](ScriptedSystem* s) {
         s->devices = {kId};
         s->removal_refused = true;
       },
       installer_texts::kRemoveFailed},
      {"the device cannot be made", {"tessup", "-i", "quarn", kDescription},
       [](ScriptedSystem* s) { s->create_ok = false; }, installer_texts::kInstallFailed},
      {"the driver cannot be updated", {"tessup", "-i", "quarn", kDescription},
       [](ScriptedSystem* s) {
         s->devices = {kId};
         s->update_ok = false;
       },
       installer_texts::kInstallFailed},
      {"a description longer than the buffers", {"tessup", "-i", "quarn", std::string(300, 'x')},
       [](ScriptedSystem*) {}, installer_texts::kInvalidCommandLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScriptedSystem s;
    c.setup(&s);
    EXPECT_EQ(RunInstaller(c.args, &s), -1);
    ASSERT_EQ(s.shown.size(), 1u);
    EXPECT_EQ(s.shown[0].first, Box::kError);
    EXPECT_EQ(s.shown[0].second, std::string("|") + c.text);
    EXPECT_FALSE(s.watchdog_running);
    // Silent (where the command line is one): the same end, nothing shown.
    if (c.args.size() >= 4 && c.args[1] != "-x") {
      ScriptedSystem quiet;
      c.setup(&quiet);
      std::vector<std::string> args = c.args;
      args[1] = args[1] == "-i" ? "-s" : "-us";
      EXPECT_EQ(RunInstaller(args, &quiet), -1);
      EXPECT_TRUE(quiet.shown.empty());
    }
  }
}

TEST(Installer, AFreshInstallMakesTheDeviceAndAttachesAfterRetries) {
  ScriptedSystem s;
  s.Package(false);
  s.attach_fails = 3;  // the files differ, so no attach is tried before installing
  EXPECT_EQ(Install(&s, "-I"), 0) << "the operation in any letter case";
  EXPECT_EQ(s.calls.front(), std::string("find ") + kId) << "underscores for spaces";
  EXPECT_NE(std::find(s.calls.begin(), s.calls.end(), std::string("create ") + kId + " C:\\pkg\\quarn.inf"),
            s.calls.end());
  EXPECT_EQ(s.waited, 5000u + 4 * 1000u) << "5 s, then a second before each try until the fourth worked";
  EXPECT_EQ(s.calls.back(), std::string("detach quarn ") + kDescription) << "the description, spaces and all";
  EXPECT_EQ(s.attach_value, 0) << "taken off the desktop again";
  ASSERT_EQ(s.shown.size(), 1u);
  EXPECT_EQ(s.shown[0].first, Box::kInformation);
  EXPECT_EQ(s.shown[0].second, std::string(installer_texts::kInstalledCaption) + "|" + installer_texts::kInstalled);
  EXPECT_EQ(s.watchdog_code, kExitTimedOut);
  EXPECT_FALSE(s.watchdog_running);
}

TEST(Installer, AnIdenticalWorkingInstallationInstallsNothing) {
  ScriptedSystem s;
  s.Package(true);
  s.devices = {kId};
  EXPECT_EQ(Install(&s), 0);
  for (const std::string& c : s.calls) {
    EXPECT_EQ(c.rfind("create", 0), std::string::npos) << c;
    EXPECT_EQ(c.rfind("update", 0), std::string::npos) << c;
  }
  EXPECT_EQ(s.attach_value, 0);
  EXPECT_EQ(s.waited, 0u);
  ASSERT_EQ(s.shown.size(), 1u);
  EXPECT_EQ(s.shown[0].first, Box::kInformation);
}

TEST(Installer, APresentDeviceIsUpdatedAndANeverAttachingOneAsksForAReboot) {
  ScriptedSystem s;
  s.Package(false);
  s.devices = {"Other_Driver", kId};
  s.attach_fails = -1;
  s.answer_yes = true;
  EXPECT_EQ(Install(&s), 1);
  EXPECT_NE(std::find(s.calls.begin(), s.calls.end(), std::string("update ") + kId + " C:\\pkg\\quarn.inf"),
            s.calls.end());
  EXPECT_EQ(s.waited, 5000u + 5 * 1000u) << "five tries";
  ASSERT_EQ(s.shown.size(), 1u);
  EXPECT_EQ(s.shown[0].first, Box::kRebootQuestion);
  EXPECT_EQ(s.shown[0].second, std::string(installer_texts::kRebootCaption) + "|" + installer_texts::kRebootAfterInstall);
  EXPECT_TRUE(s.rebooted) << "Yes reboots";
  // The system asked for a reboot, but the files are current and it attached: none needed.
  ScriptedSystem t;
  t.Package(false);
  t.ask_reboot = true;
  EXPECT_EQ(Install(&t), 0);
  // Asked, and the attach never worked: needed, and No leaves it for later.
  ScriptedSystem u;
  u.Package(false);
  u.ask_reboot = true;
  u.attach_fails = -1;
  EXPECT_EQ(Install(&u), 1);
  EXPECT_FALSE(u.rebooted);
}

TEST(Installer, SilentRemovalRemovesEveryMatchShowsNothingAndNeedsAReboot) {
  ScriptedSystem s;
  s.devices = {kId, "Other_Driver", kId};
  EXPECT_EQ(RunInstaller({"tessup", "-Us", "quarn", kDescription}, &s), 1);
  EXPECT_EQ(s.removed.size(), 2u);
  EXPECT_EQ(s.devices, std::vector<std::string>{"Other_Driver"});
  EXPECT_TRUE(s.shown.empty());
  EXPECT_FALSE(s.rebooted);
  ScriptedSystem loud;
  loud.devices = {kId};
  EXPECT_EQ(RunInstaller({"tessup", "-u", "quarn", kDescription}, &loud), 1);
  ASSERT_EQ(loud.shown.size(), 1u);
  EXPECT_EQ(loud.shown[0].second, std::string(installer_texts::kRebootCaption) + "|" + installer_texts::kRebootAfterRemoval);
}

// A removal the system refused is a failure, never "removed": the device
// is still there, and no reboot would change that.
TEST(Installer, ARefusedRemovalIsNotReportedAsRemoved) {
  ScriptedSystem s;
  s.devices = {kId, kId};
  s.removal_refused = true;
  EXPECT_EQ(RunInstaller({"tessup", "-us", "quarn", kDescription}, &s), -1);
  EXPECT_EQ(s.devices.size(), 2u);
  EXPECT_TRUE(s.shown.empty());
  EXPECT_FALSE(s.rebooted);
}

// Only an Administrators entry that is enabled counts: the filtered token
// of a user who has not been elevated carries it for denying only.
TEST(Installer, ADenyOnlyAdministratorsEntryIsNotAnAdministrator) {
  const TokenGroup admins_enabled{true, 0xF};          // mandatory, by default, enabled, owner
  const TokenGroup admins_deny_only{true, 0x10};       // SE_GROUP_USE_FOR_DENY_ONLY
  const TokenGroup admins_disabled{true, 0x2};         // enabled by default, but not enabled
  const TokenGroup users_enabled{false, 0x7};
  EXPECT_TRUE(HoldsAdministrators({users_enabled, admins_enabled}));
  EXPECT_FALSE(HoldsAdministrators({users_enabled, admins_deny_only}));
  EXPECT_FALSE(HoldsAdministrators({admins_disabled}));
  EXPECT_FALSE(HoldsAdministrators({TokenGroup{true, 0x14}})) << "enabled and deny-only at once";
  EXPECT_FALSE(HoldsAdministrators({users_enabled}));
  EXPECT_FALSE(HoldsAdministrators({}));
  // The run says why before it touches anything.
  ScriptedSystem s;
  s.admin = false;
  EXPECT_EQ(Install(&s), -1);
  EXPECT_TRUE(s.calls.empty());
  ASSERT_EQ(s.shown.size(), 1u);
  EXPECT_EQ(s.shown[0].second, std::string("|") + installer_texts::kNeedsAdministrator);
}

}  // namespace
}  // namespace kmr
