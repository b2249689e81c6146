// The system sound settings under wine64: the saved line display is
// cleared record by record, in every subkey, and the control panel's
// arguments follow the system version.
#include "recorder/audio/win/sound_settings.h"

#include <gtest/gtest.h>

#include <vector>

namespace kmr {
namespace {

const char kRoot[] = "Software\\NorvaneTests\\VolumeControl";

std::vector<BYTE> Read(const std::string& key, const char* name) {
  HKEY k = nullptr;
  std::vector<BYTE> data(8000);
  DWORD size = static_cast<DWORD>(data.size());
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return {};
  if (RegQueryValueExA(k, name, nullptr, nullptr, data.data(), &size) != ERROR_SUCCESS) size = 0;
  RegCloseKey(k);
  data.resize(size);
  return data;
}

void Write(const std::string& key, const char* name, DWORD type, const std::vector<BYTE>& data) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(k, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(k);
}

TEST(SoundSettings, LineStatesAreClearedRecordByRecordInEverySubkey) {
  const std::string mixer = std::string(kRoot) + "\\Realtek Mixer";
  const std::string deep = mixer + "\\Recording";
  Write(mixer, "LineStates", REG_BINARY, std::vector<BYTE>(132 * 3, 0x5A));
  Write(deep, "linestates", REG_BINARY, std::vector<BYTE>(140, 0x11));
  Write(deep, "Other", REG_BINARY, std::vector<BYTE>(132, 0x22));
  Write(deep, "LineStatesText", REG_SZ, {'a', 0});
  Write(mixer + "\\Big", "LineStates", REG_BINARY, std::vector<BYTE>(3961, 0x33));
  EXPECT_EQ(ResetLineStates(HKEY_CURRENT_USER, kRoot), 2);
  const std::vector<BYTE> a = Read(mixer, "LineStates");
  ASSERT_EQ(a.size(), 396u);
  for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i], i % 132 == 0 ? 0 : 0x5A) << i;
  const std::vector<BYTE> b = Read(deep, "linestates");
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[132], 0) << "a second, short record";
  EXPECT_EQ(b[1], 0x11);
  EXPECT_EQ(Read(deep, "Other")[0], 0x22) << "only values named LineStates";
  EXPECT_EQ(Read(mixer + "\\Big", "LineStates")[0], 0x33) << "longer than 3960 bytes: left alone";
  RegDeleteKeyA(HKEY_CURRENT_USER, (mixer + "\\Big").c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, deep.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, mixer.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, kRoot);
  EXPECT_EQ(ResetLineStates(HKEY_CURRENT_USER, "Software\\NorvaneTests\\Missing"), 0);
}

TEST(SoundSettings, TheControlPanelPageFollowsTheSystemVersion) {
  EXPECT_EQ(DeviceSettingsArguments({2, 5, 1}), "shell32.dll,Control_RunDLL mmsys.cpl,,2");
  EXPECT_EQ(DeviceSettingsArguments({2, 6, 0}), "shell32.dll,Control_RunDLL mmsys.cpl,,2");
  EXPECT_EQ(DeviceSettingsArguments({2, 5, 0}), "shell32.dll,Control_RunDLL mmsys.cpl,,1");
  EXPECT_EQ(DeviceSettingsArguments({1, 4, 10}), "shell32.dll,Control_RunDLL mmsys.cpl");
  const std::string rundll = SystemProgram("rundll32.exe");
  EXPECT_NE(GetFileAttributesA(rundll.c_str()), INVALID_FILE_ATTRIBUTES) << rundll;
}

}  // namespace
}  // namespace kmr
