// The driver installer's system services on Windows: the version and token
// checks, SetupAPI and newdev for the display devices, memory-mapped file
// comparison, the shared display attach steps, message boxes, the reboot
// with the shutdown privilege and a watchdog thread.
#pragma once

#include <windows.h>

#include <memory>

#include "installer/driver_installer.h"
#include "platform/mirror/driver_attachment.h"
#include "platform/mirror/win/display_attach_win.h"

namespace kmr {

class WinInstallerSystem : public InstallerSystem {
 public:
  ~WinInstallerSystem() override { StopWatchdog(); }
  bool IsWindows2000OrLater() override;
  bool IsAdministrator() override;
  std::string ProgramDirectory() override;
  std::string SystemDirectory() override;
  bool FilesEqual(const std::string& a, const std::string& b) override;
  Found FindDevices(const std::string& hardware_id, bool remove) override;
  bool UpdateDriver(const std::string& hardware_id, const std::string& inf, bool* reboot) override;
  bool CreateAndInstallDevice(const std::string& hardware_id, const std::string& inf, bool* reboot) override;
  // Through the recorder's attach with its undoing (no device context).
  bool Attach(const std::string& service, const std::string& description, bool attach) override;
  void Wait(uint32_t ms) override { ::Sleep(ms); }
  void StartWatchdog(uint32_t ms, int exit_code) override;
  void StopWatchdog() override;
  bool Show(Box box, const std::string& caption, const std::string& text) override;
  void Reboot() override;

 private:
  static DWORD WINAPI Watchdog(LPVOID self);
  std::unique_ptr<platform::WinDisplayAttachSteps> attach_steps_;
  std::unique_ptr<platform::DriverAttachment> attachment_;
  HANDLE event_ = nullptr;
  HANDLE thread_ = nullptr;
  uint32_t watchdog_ms_ = 0;
  int watchdog_code_ = 1;
};

}  // namespace kmr
