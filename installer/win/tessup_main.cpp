// tessup: installs or removes the mirror display driver and its miniport.
//   tessup -i|-s|-u|-us SERVICE "DEVICE DESCRIPTION"
// (-s and -us are silent). Exit code: -1 failure, 0 success, 1 success with
// a reboot still needed, 2 the operation did not finish in 20 seconds.
#include <windows.h>

#include <string>
#include <vector>

#include "installer/driver_installer.h"
#include "installer/win/win_installer_system.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string> args(__argv, __argv + __argc);
  kmr::WinInstallerSystem system;
  return kmr::RunInstaller(args, &system);
}
