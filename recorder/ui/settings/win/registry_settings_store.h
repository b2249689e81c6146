// The settings on Windows: the current user's registry under
// "Software\Norvane\Kelvo" (or another root given by tests), one subkey per
// page; numbers are REG_DWORD, texts REG_SZ with their terminating zero.
#pragma once

#include <windows.h>

#include <string>

#include "recorder/ui/settings/settings_store.h"

namespace kmr {

class RegistrySettingsStore : public SettingsStore {
 public:
  static constexpr const char* kRoot = "Software\\Norvane\\Kelvo";
  explicit RegistrySettingsStore(HKEY hive = HKEY_CURRENT_USER, std::string root = kRoot);

  bool HasKey(const std::string& key) override;
  // Numbers are read as the 4 bytes stored, whatever the value's type.
  bool ReadNumber(const std::string& key, const std::string& name, int32_t* value) override;
  bool ReadText(const std::string& key, const std::string& name, std::string* value) override;
  void WriteNumber(const std::string& key, const std::string& name, int32_t value) override;
  void WriteText(const std::string& key, const std::string& name, const std::string& value) override;
  // The registry keeps every write at once.
  bool Flush() override { return true; }

 private:
  std::string Path(const std::string& key) const { return root_ + "\\" + key; }
  HKEY hive_;
  std::string root_;
};

// The log-on start of the recorder: the value "Kelvo" under the current
// user's "Software\Microsoft\Windows\CurrentVersion\Run" holds the program's
// quoted path while "Auto Run" is on. The Run key is never created: when it
// cannot be opened nothing happens.
class LogonStart {
 public:
  static constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  static constexpr const char* kValueName = "Kelvo";
  explicit LogonStart(HKEY hive = HKEY_CURRENT_USER, std::string run_key = kRunKey);
  // Writes "\"program\"" when on, deletes the value when off; false when the
  // Run key cannot be opened or the change failed.
  bool Apply(bool on, const std::string& program);

 private:
  HKEY hive_;
  std::string run_key_;
};

// The user's personal documents folder with a trailing backslash; the
// recorder's own folder when the system cannot name it.
std::string WindowsDocumentsFolder();

}  // namespace kmr
