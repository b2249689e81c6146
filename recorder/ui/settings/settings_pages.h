// The settings each page of the recorder owns, with their defaults, the
// rules for stored negatives, and their load and save over a SettingsStore.
#pragma once

#include <cstdint>
#include <string>

#include "recorder/ui/settings/settings_store.h"

namespace kmr {

// Hot-key value: key code in bits 16..23, extended key in bit 24, modifiers
// in the low word (1 Alt, 2 Ctrl, 4 Shift).
inline constexpr uint32_t HotKeyValue(uint32_t key_code, uint32_t modifiers = 0) {
  return ((key_code & 0xFF) << 16) | (modifiers & 0xFFFF);
}

// The output file's extension for a format index (0 AVI, 1 Windows Media, 2
// self-playing executable).
const char* FormatExtension(int32_t format);

struct VideoSettings {
  static constexpr const char* kKey = "Video";
  std::string path;
  int32_t format = 0;
  int32_t codec = -1;
  int32_t capture_option = 1;  // 0 full screen, 1 fixed region, 2 one window
  int32_t left = 0, top = 0, width = 640, height = 480;
  int32_t fps = 15;
  uint32_t pause_hot_key = HotKeyValue(0x72);  // F3
  uint32_t start_hot_key = HotKeyValue(0x71);  // F2

  // documents: the documents folder with a trailing separator.
  void SetDefaults(const std::string& documents);
  void Load(SettingsStore* store, const std::string& documents);
  // The region values are written only when the page goes away at exit.
  void Save(SettingsStore* store, bool with_region) const;
};

struct AudioSettings {
  static constexpr const char* kKey = "Audio";
  int32_t record_audio = 1;
  int32_t device = 1;
  int32_t input = -1;  // -1: choose the best input
  int32_t sample_rate = 1;
  int32_t quality = 5;
  int32_t volume = 45535;  // slider position: the volume is 65535 minus this

  void Load(SettingsStore* store);
  void Save(SettingsStore* store) const;
};

struct InfoSettings {
  static constexpr const char* kKey = "Info";
  std::string title = "Untitled";
  std::string author, copyright, description;

  void Load(SettingsStore* store);
  void Save(SettingsStore* store) const;
};

struct OptionsSettings {
  static constexpr const char* kKey = "Options";
  int32_t auto_run = 0;
  int32_t start_minimized = 0;
  int32_t always_on_top = 0;
  int32_t show_splash = 1;
  int32_t hide_wallpaper = 1;
  int32_t show_border = 1;
  int32_t overwrite_option = 0;  // 0 overwrite, 1 ask, 2 number new files

  void Load(SettingsStore* store);
  void Save(SettingsStore* store) const;
};

// Every page's settings, loaded together (first run writes every default).
struct RecorderSettings {
  VideoSettings video;
  AudioSettings audio;
  InfoSettings info;
  OptionsSettings options;
  void Load(SettingsStore* store, const std::string& documents);
  void Save(SettingsStore* store, bool with_region) const;
};

// What a value is, for tools that list and change settings by name.
struct SettingInfo {
  const char* key;
  const char* name;
  bool is_text;
};
// Every value of every key, in the order the pages write them.
const SettingInfo* AllSettings(size_t* count);
const SettingInfo* FindSetting(const std::string& key, const std::string& name);

}  // namespace kmr
