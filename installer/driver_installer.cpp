#include "installer/driver_installer.h"

#include <algorithm>
#include <cctype>

namespace kmr {

namespace {

constexpr uint32_t kWatchdogMs = 20000;
constexpr size_t kMaxPath = 259;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct Run {
  explicit Run(InstallerSystem* s) : sys(s) {}
  InstallerSystem* sys;
  bool silent = false;
  bool remove = false;
  bool reboot = false;
  bool attached = false;
  int result = -1;
  std::string error = installer_texts::kUnknown;
  std::string service, description, hardware_id, inf;

  bool FilesCurrent() {
    const std::string dir = sys->ProgramDirectory(), system = sys->SystemDirectory();
    return sys->FilesEqual(system + service + ".dll", dir + service + ".dll") &&
           sys->FilesEqual(system + "drivers\\" + service + ".sys", dir + service + ".sys");
  }

  // The operation itself; false with error set.
  bool Operate() {
    if (remove) {
      switch (sys->FindDevices(hardware_id, true)) {
        case InstallerSystem::Found::kNone:
          error = installer_texts::kNotFound;
          return false;
        case InstallerSystem::Found::kRemovalFailed:
          error = installer_texts::kRemoveFailed;  // never reported as removed
          return false;
        case InstallerSystem::Found::kFound:
          break;
      }
      reboot = true;
      return true;
    }
    if (FilesCurrent() && sys->Attach(service, description, true)) {
      attached = true;  // an identical, working installation: nothing to install
      return true;
    }
    bool asked = false;
    const bool installed = sys->FindDevices(hardware_id, false) != InstallerSystem::Found::kNone
                               ? sys->UpdateDriver(hardware_id, inf, &asked)
                               : sys->CreateAndInstallDevice(hardware_id, inf, &asked);
    if (!installed) {
      error = installer_texts::kInstallFailed;
      return false;
    }
    sys->Wait(5000);
    for (int i = 0; i < 5 && !attached; ++i) {
      sys->Wait(1000);
      attached = sys->Attach(service, description, true);
    }
    reboot = asked ? !(FilesCurrent() && attached) : !attached;
    return true;
  }
};

}  // namespace

bool HoldsAdministrators(const std::vector<TokenGroup>& groups) {
  for (const TokenGroup& g : groups) {
    if (g.administrators && (g.attributes & kGroupEnabled) != 0 && (g.attributes & kGroupDenyOnly) == 0) return true;
  }
  return false;
}

std::string HardwareIdFor(const std::string& description) {
  std::string id = description;
  std::replace(id.begin(), id.end(), ' ', '_');
  return id;
}

int RunInstaller(const std::vector<std::string>& args, InstallerSystem* sys) {
  Run run{sys};
  bool checked = false;
  if (args.size() >= 4) {
    const std::string op = Lower(args[1]);
    if (op == "-i" || op == "-s" || op == "-u" || op == "-us") {
      run.silent = op == "-s" || op == "-us";
      run.remove = op == "-u" || op == "-us";
      checked = true;
    }
  }
  if (!checked) {
    run.error = installer_texts::kInvalidCommandLine;
  } else if (!sys->IsWindows2000OrLater()) {
    run.error = installer_texts::kNeedsWindows2000;
  } else if (!sys->IsAdministrator()) {
    run.error = installer_texts::kNeedsAdministrator;
  } else {
    run.service = args[2];
    run.description = args[3];
    run.hardware_id = HardwareIdFor(run.description);
    run.inf = sys->ProgramDirectory() + run.service + ".inf";
    // The paths and the hardware ID live in buffers of 260 characters.
    const size_t longest = sys->ProgramDirectory().size() + run.service.size() + 4;
    if (run.description.size() > kMaxPath || longest > kMaxPath || run.service.empty()) {
      run.error = installer_texts::kInvalidCommandLine;
    } else {
      sys->StartWatchdog(kWatchdogMs, kExitTimedOut);
      if (run.Operate()) run.result = 0;
      // Always: the device comes off the desktop again.
      if (run.attached) sys->Attach(run.service, run.description, false);
      sys->StopWatchdog();
    }
  }
  if (run.result == -1) {
    if (!run.silent) sys->Show(InstallerSystem::Box::kError, "", run.error);
    return -1;
  }
  if (run.reboot) {
    if (!run.silent &&
        sys->Show(InstallerSystem::Box::kRebootQuestion, installer_texts::kRebootCaption,
                  run.remove ? installer_texts::kRebootAfterRemoval : installer_texts::kRebootAfterInstall)) {
      sys->Reboot();
    }
    return 1;
  }
  if (!run.silent) {
    sys->Show(InstallerSystem::Box::kInformation,
              run.remove ? installer_texts::kRemovedCaption : installer_texts::kInstalledCaption,
              run.remove ? installer_texts::kRemoved : installer_texts::kInstalled);
  }
  return 0;
}

}  // namespace kmr
