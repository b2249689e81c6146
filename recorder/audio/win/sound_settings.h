// The system's own sound settings, opened from the Audio page: the sound
// devices (the control panel's audio page) and the recording inputs (the
// volume control's recording view). Both first clear the volume control's
// saved line display, so that it shows every line again.
#pragma once

#include <windows.h>

#include <string>

#include "platform/system/system.h"

namespace kmr {

inline constexpr const char* kVolumeControlKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Applets\\Volume Control";

// Under root\path, recursively: every REG_BINARY value named "LineStates"
// (any case) gets the first byte of each 132-byte record set to 0 (values
// of up to 3960 bytes). The number of values rewritten.
int ResetLineStates(HKEY root = HKEY_CURRENT_USER, const std::string& path = kVolumeControlKey);

// The arguments for the control panel's audio page on a system version:
// its recording tab from Windows XP on, the audio tab on Windows 2000.
std::string DeviceSettingsArguments(const platform::OsVersion& v);
// A program of the system folder (the Windows folder on the 9x family).
std::string SystemProgram(const char* name);

// Start the program without waiting; false when it cannot be started.
bool OpenDeviceSettings();
bool OpenInputSettings();

inline constexpr const char* kDeviceSettingsFailed =
    "Failed to open the audio device configuration dialog!\n\nPlease try to open it from the system control panel "
    "manually.";
inline constexpr const char* kInputSettingsFailed =
    "Failed to open the audio input configuration dialog!\n\nPlease try to open it from the system control panel "
    "manually.";

}  // namespace kmr
