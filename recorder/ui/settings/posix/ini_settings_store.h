// The settings on Linux: one INI-style file ("[Video]", "Path=...",
// "FPS=15"), read whole when opened and written whole by Flush through a
// temporary file that is flushed to the disk and then renamed over the old
// one, so a crash during a save leaves the old file or the new one, never a
// mix or nothing.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "recorder/ui/settings/settings_store.h"

namespace kmr {

class IniSettingsStore : public SettingsStore {
 public:
  // Reads the file when there is one; a file that cannot be read counts as
  // empty (every page then writes its defaults).
  explicit IniSettingsStore(std::string path);

  bool HasKey(const std::string& key) override;
  bool ReadNumber(const std::string& key, const std::string& name, int32_t* value) override;
  bool ReadText(const std::string& key, const std::string& name, std::string* value) override;
  void WriteNumber(const std::string& key, const std::string& name, int32_t value) override;
  void WriteText(const std::string& key, const std::string& name, const std::string& value) override;
  bool Flush() override;

  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }
  // Tests: runs between writing the temporary file and the rename; false
  // stands for a crash there (nothing is renamed).
  void SetBeforeRename(std::function<bool()> hook) { before_rename_ = std::move(hook); }

  // $XDG_CONFIG_HOME/norvane/kelvo.conf, or ~/.config/norvane/kelvo.conf.
  static std::string DefaultPath();
  // $XDG_DOCUMENTS_DIR or ~/Documents, with a trailing separator.
  static std::string DocumentsFolder();

 private:
  using Section = std::vector<std::pair<std::string, std::string>>;
  std::string* Find(const std::string& key, const std::string& name);
  void Set(const std::string& key, const std::string& name, const std::string& raw);

  std::string path_;
  std::string error_;
  std::vector<std::pair<std::string, Section>> sections_;  // in file order
  std::function<bool()> before_rename_;
};

}  // namespace kmr
