// The installer's Windows services under wine64: the version and
// Administrators checks, the memory-mapped file comparison on real files,
// what SetupAPI and the display devices answer for a device that is not
// there, and tessup.exe's silent runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "installer/win/win_installer_system.h"
#include "platform/mirror/win/display_attach_win.h"

namespace kmr {
namespace {

std::string TempFile(const char* name, const std::string& contents) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f != nullptr) {
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
  }
  return path;
}

TEST(TessupWindows, TheChecksAndTheFileComparison) {
  WinInstallerSystem s;
  EXPECT_TRUE(s.IsWindows2000OrLater()) << "the prefix reports Windows XP";
  EXPECT_TRUE(s.IsAdministrator()) << "Wine's user is an administrator";
  EXPECT_EQ(s.SystemDirectory().back(), '\\');
  EXPECT_EQ(s.ProgramDirectory().back(), '\\');
  const std::string empty1 = TempFile("kmr_empty1", ""), empty2 = TempFile("kmr_empty2", "");
  const std::string a = TempFile("kmr_a", "driver bytes"), b = TempFile("kmr_b", "driver bytes");
  const std::string c = TempFile("kmr_c", "driver bytez"), d = TempFile("kmr_d", "driver bytes!");
  EXPECT_TRUE(s.FilesEqual(empty1, empty2)) << "two empty files are equal";
  EXPECT_TRUE(s.FilesEqual(a, b));
  EXPECT_FALSE(s.FilesEqual(a, c));
  EXPECT_FALSE(s.FilesEqual(a, d)) << "sizes differ";
  EXPECT_FALSE(s.FilesEqual(a, a + ".missing"));
  for (const std::string& f : {empty1, empty2, a, b, c, d}) DeleteFileA(f.c_str());
  EXPECT_EQ(s.FindDevices("Kmr_No_Such_Device", false), InstallerSystem::Found::kNone);
  EXPECT_EQ(s.FindDevices("Kmr_No_Such_Device", true), InstallerSystem::Found::kNone);
}

// The attach steps find no driver device here. (Wine keeps "Hardware
// Profiles\Current" as a volatile key, so the "Attach.ToDesktop" value
// cannot be created under it as Windows does: that step runs on Windows only.)
TEST(TessupWindows, TheAttachStepsFindNoDeviceWithoutTheDriver) {
  platform::WinDisplayAttachSteps steps("kmrtest", "Kmr Test Device", 424);
  std::string device;
  EXPECT_FALSE(steps.FindDevice(&device));
  WinInstallerSystem s;
  EXPECT_FALSE(s.Attach("kmrtest", "Kmr Test Device", true));
}

DWORD RunProgram(const std::string& cmd_line) {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string cmd = cmd_line;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 998;
  DWORD code = 997;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

// The program asks for elevation where the system has user account control:
// its manifest, read back from the image as the loader reads it.
TEST(TessupWindows, TheProgramAsksToRunAsAnAdministrator) {
  HMODULE image = LoadLibraryExA(WindowsPath(TESSUP_PATH).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr) << "no manifest";
  HGLOBAL loaded = LoadResource(image, found);
  ASSERT_NE(loaded, nullptr);
  const std::string text(static_cast<const char*>(LockResource(loaded)), SizeofResource(image, found));
  EXPECT_NE(text.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\">"), std::string::npos);
  EXPECT_NE(text.find("<assemblyIdentity"), std::string::npos) << "Windows XP refuses a manifest without one";
  FreeLibrary(image);
}

TEST(TessupWindows, SilentRunsEndWithTheirExitCodes) {
  const std::string tessup = "\"" + WindowsPath(TESSUP_PATH) + "\"";
  // Silent removal of a driver that is not there: failure, nothing shown.
  EXPECT_EQ(RunProgram(tessup + " -US quarn \"Kmr No Such Device\""), static_cast<DWORD>(-1));
  // A silent install with no package beside the program: failure.
  EXPECT_EQ(RunProgram(tessup + " -s kmrnothere \"Kmr No Such Device\""), static_cast<DWORD>(-1));
}

// The watchdog ends a run that hangs, with the code it was given. The test
// runs itself again as the hanging child.
TEST(TessupWindows, WatchdogChild) {
  if (std::getenv("KMR_WATCHDOG_CHILD") == nullptr) GTEST_SKIP() << "only as the child of the watchdog test";
  WinInstallerSystem s;
  s.StartWatchdog(200, kExitTimedOut);
  // The hang: waiting for something that never comes.
  HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, INFINITE);
}

TEST(TessupWindows, AHangIsEndedByTheWatchdog) {
  char self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  SetEnvironmentVariableA("KMR_WATCHDOG_CHILD", "1");
  const DWORD code = RunProgram("\"" + std::string(self) + "\" --gtest_filter=TessupWindows.WatchdogChild");
  SetEnvironmentVariableA("KMR_WATCHDOG_CHILD", nullptr);
  EXPECT_EQ(code, static_cast<DWORD>(kExitTimedOut));
}

}  // namespace
}  // namespace kmr
