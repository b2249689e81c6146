// The driver installer's run, written once: the command line, the system
// and administrator checks, removal, installation with the files-current
// check, the attach retries and the reboot decision, the final detach, the
// messages and the exit code. Every system service it needs is behind
// InstallerSystem: SetupAPI, newdev, the token and the display settings on
// Windows, a scripted fake in the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmr {

namespace installer_texts {
inline constexpr const char* kInvalidCommandLine = "Invalid command line parameters!";
inline constexpr const char* kNeedsWindows2000 = "This driver requires Windows 2000, XP or later version of Windows.";
inline constexpr const char* kNeedsAdministrator =
    "Only Administrator Users can install this driver!\n\nPlease contact your administrator for help.";
inline constexpr const char* kNotFound =
    "Can not find the driver on your system! Maybe it has already been removed before.";
inline constexpr const char* kInstallFailed = "Failed to install the driver! Please reboot system and try again.";
inline constexpr const char* kRemoveFailed = "Failed to remove the driver! Please reboot system and try again.";
inline constexpr const char* kUnknown = "This program encountered an unknown error! Please reboot system and try again.";
inline constexpr const char* kRebootCaption = "System Reboot Notification";
inline constexpr const char* kRebootAfterInstall =
    "The driver has been installed successfully!\n\nYou have to reboot system to activate the driver.\n\nClick 'Yes' "
    "to reboot now.\nClick 'No' to reboot later.";
inline constexpr const char* kRebootAfterRemoval =
    "The driver has been removed successfully!\n\nYou have to reboot system to finish uninstallation.\n\nClick 'Yes' "
    "to reboot now.\nClick 'No' to reboot later.";
inline constexpr const char* kInstalledCaption = "Driver Installed Successfully";
inline constexpr const char* kInstalled = "The driver has been installed successfully!";
inline constexpr const char* kRemovedCaption = "Driver Removed Successfully";
inline constexpr const char* kRemoved = "The driver has been removed successfully!";
}  // namespace installer_texts

class InstallerSystem {
 public:
  virtual ~InstallerSystem() = default;
  // The NT platform, major version above 4.
  virtual bool IsWindows2000OrLater() = 0;
  virtual bool IsAdministrator() = 0;
  // Folders with a trailing backslash: the program's own, and the system's.
  virtual std::string ProgramDirectory() = 0;
  virtual std::string SystemDirectory() = 0;
  // Both files open and hold the same bytes (two empty files are equal).
  virtual bool FilesEqual(const std::string& a, const std::string& b) = 0;
  // Display-class devices with the hardware ID; with remove, every match is
  // removed. kRemovalFailed when the system refused to remove any of them.
  enum class Found { kNone, kFound, kRemovalFailed };
  virtual Found FindDevices(const std::string& hardware_id, bool remove) = 0;
  // The driver of the devices with the hardware ID updated from the
  // information file; *reboot says whether the system asks for a reboot.
  virtual bool UpdateDriver(const std::string& hardware_id, const std::string& inf, bool* reboot) = 0;
  // A new display device with the hardware ID, installed from the file.
  virtual bool CreateAndInstallDevice(const std::string& hardware_id, const std::string& inf, bool* reboot) = 0;
  // The driver's display device (by its description) put on the desktop or
  // taken off ("Attach.ToDesktop" and the display settings).
  virtual bool Attach(const std::string& service, const std::string& description, bool attach) = 0;
  // Lets ms pass (the installation settling, the attach retries).
  virtual void Wait(uint32_t ms) = 0;
  // The watchdog ends the process with exit_code after ms unless stopped.
  virtual void StartWatchdog(uint32_t ms, int exit_code) = 0;
  virtual void StopWatchdog() = 0;
  enum class Box { kError, kInformation, kRebootQuestion };
  // A message box; for the reboot question, true when the answer is Yes.
  virtual bool Show(Box box, const std::string& caption, const std::string& text) = 0;
  virtual void Reboot() = 0;
};

// args: the whole command line, argument 0 the program. Returns the exit
// code: -1 failure, 0 success, 1 success with a reboot still needed. An
// operation that does not end within 20 seconds is ended by the watchdog
// with kExitTimedOut: it did not finish, so it is not reported as a success.
inline constexpr int kExitTimedOut = 2;
int RunInstaller(const std::vector<std::string>& args, InstallerSystem* system);

// "Norvane Screen Capture Driver" → "Norvane_Screen_Capture_Driver".
std::string HardwareIdFor(const std::string& description);

// One entry of the process token's groups: whether its SID is the built-in
// Administrators group, and its attributes (the system's SE_GROUP_* bits).
struct TokenGroup {
  bool administrators = false;
  uint32_t attributes = 0;
};
inline constexpr uint32_t kGroupEnabled = 0x4;      // SE_GROUP_ENABLED
inline constexpr uint32_t kGroupDenyOnly = 0x10;    // SE_GROUP_USE_FOR_DENY_ONLY
// An administrator's token holds the Administrators group enabled. An
// entry that only denies access (the filtered token of a user who has not
// been elevated) does not make one.
bool HoldsAdministrators(const std::vector<TokenGroup>& groups);

}  // namespace kmr
