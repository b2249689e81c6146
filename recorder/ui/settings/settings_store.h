// Where the recorder keeps its settings: keys ("Video", "Audio", "Info",
// "Options") holding named numbers and texts. The registry of the current
// user on Windows, an INI-style file on Linux; the pages' load and save logic
// is written once over this interface.
#pragma once

#include <cstdint>
#include <string>

namespace kmr {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Whether the key exists (a page whose key is missing writes its defaults).
  virtual bool HasKey(const std::string& key) = 0;
  // False when the value is missing or is not of that kind.
  virtual bool ReadNumber(const std::string& key, const std::string& name, int32_t* value) = 0;
  virtual bool ReadText(const std::string& key, const std::string& name, std::string* value) = 0;
  // Writes create the key; individual write errors are ignored, as a page's
  // save does.
  virtual void WriteNumber(const std::string& key, const std::string& name, int32_t value) = 0;
  virtual void WriteText(const std::string& key, const std::string& name, const std::string& value) = 0;
  // Makes the writes so far durable (the file store rewrites its file as one
  // piece); false when that failed.
  virtual bool Flush() = 0;
};

}  // namespace kmr
