#include "recorder/ui/settings/settings_pages.h"

#include <climits>
#include <iterator>
#include <utility>

#include "platform/system/system.h"

namespace kmr {

namespace {

constexpr size_t kPathBytes = 259;
constexpr size_t kInfoBytes = 4095;

const SettingInfo kAll[] = {
    {"Video", "Path", true},           {"Video", "Format", false},        {"Video", "Codec", false},
    {"Video", "Capture Option", false}, {"Video", "Left", false},         {"Video", "Top", false},
    {"Video", "Width", false},         {"Video", "Height", false},        {"Video", "FPS", false},
    {"Video", "Pause HotKey", false},  {"Video", "Start HotKey", false},  {"Audio", "Record Audio", false},
    {"Audio", "Device", false},        {"Audio", "Input", false},         {"Audio", "Sample Rate", false},
    {"Audio", "Quality", false},       {"Audio", "Volume", false},        {"Info", "Title", true},
    {"Info", "Author", true},          {"Info", "Copyright", true},       {"Info", "Description", true},
    {"Options", "Auto Run", false},    {"Options", "Start Minimized", false}, {"Options", "Always On Top", false},
    {"Options", "Show Splash", false}, {"Options", "Hide Wallpaper", false},  {"Options", "Show Border", false},
    {"Options", "Overwrite Option", false},
};

void Number(SettingsStore* s, const char* key, const char* name, int32_t* field) {
  int32_t v = 0;
  if (s->ReadNumber(key, name, &v)) *field = v;  // a missing value keeps its default
}

// A stored negative reads as the given value.
void NonNegative(SettingsStore* s, const char* key, const char* name, int32_t* field, int32_t if_negative) {
  int32_t v = 0;
  if (s->ReadNumber(key, name, &v)) *field = v < 0 ? if_negative : v;
}

void Text(SettingsStore* s, const char* key, const char* name, size_t max_bytes, std::string* field) {
  std::string v;
  if (!s->ReadText(key, name, &v)) return;
  if (v.size() > max_bytes) v.resize(max_bytes);
  *field = v;
}

}  // namespace

const char* FormatExtension(int32_t format) {
  switch (format) {
    case 1:
      return "wmv";
    case 2:
      return "exe";
    default:
      return "avi";
  }
}

void VideoSettings::SetDefaults(const std::string& documents) {
  *this = VideoSettings{};
  path = documents + "Screen Videos" + platform::kPathSeparator + "New." + FormatExtension(format);
}

void VideoSettings::Load(SettingsStore* s, const std::string& documents) {
  SetDefaults(documents);
  if (!s->HasKey(kKey)) {
    Save(s, true);
    return;
  }
  Text(s, kKey, "Path", kPathBytes, &path);
  Number(s, kKey, "Format", &format);
  Number(s, kKey, "Codec", &codec);
  Number(s, kKey, "Capture Option", &capture_option);
  Number(s, kKey, "Left", &left);
  Number(s, kKey, "Top", &top);
  Number(s, kKey, "Width", &width);
  Number(s, kKey, "Height", &height);
  Number(s, kKey, "FPS", &fps);
  int32_t key = 0;
  if (s->ReadNumber(kKey, "Pause HotKey", &key)) pause_hot_key = static_cast<uint32_t>(key);
  if (s->ReadNumber(kKey, "Start HotKey", &key)) start_hot_key = static_cast<uint32_t>(key);
}

void VideoSettings::Save(SettingsStore* s, bool with_region) const {
  s->WriteText(kKey, "Path", path);
  s->WriteNumber(kKey, "Format", format);
  s->WriteNumber(kKey, "Codec", codec);
  s->WriteNumber(kKey, "Capture Option", capture_option);
  if (with_region) {
    s->WriteNumber(kKey, "Left", left);
    s->WriteNumber(kKey, "Top", top);
    s->WriteNumber(kKey, "Width", width);
    s->WriteNumber(kKey, "Height", height);
  }
  s->WriteNumber(kKey, "FPS", fps);
  s->WriteNumber(kKey, "Pause HotKey", static_cast<int32_t>(pause_hot_key));
  s->WriteNumber(kKey, "Start HotKey", static_cast<int32_t>(start_hot_key));
}

namespace {

// A number of a page: its name, its field, and what a stored negative reads
// as (kKeepNegative: as it is).
constexpr int32_t kKeepNegative = INT32_MIN;
template <typename Page>
struct NumberField {
  const char* name;
  int32_t Page::*field;
  int32_t if_negative;
};

template <typename Page, size_t N>
void LoadNumbers(SettingsStore* s, const char* key, const NumberField<Page> (&fields)[N], Page* page) {
  for (const auto& f : fields) {
    if (f.if_negative == kKeepNegative) {
      Number(s, key, f.name, &(page->*f.field));
    } else {
      NonNegative(s, key, f.name, &(page->*f.field), f.if_negative);
    }
  }
}

template <typename Page, size_t N>
void SaveNumbers(SettingsStore* s, const char* key, const NumberField<Page> (&fields)[N], const Page& page) {
  for (const auto& f : fields) s->WriteNumber(key, f.name, page.*f.field);
}

// In the order the page writes them.
const NumberField<AudioSettings> kAudioNumbers[] = {
    {"Record Audio", &AudioSettings::record_audio, kKeepNegative},
    {"Device", &AudioSettings::device, 0},
    {"Input", &AudioSettings::input, 0},
    {"Sample Rate", &AudioSettings::sample_rate, 1},
    {"Quality", &AudioSettings::quality, 5},
    {"Volume", &AudioSettings::volume, 45535},
};

const NumberField<OptionsSettings> kOptionsNumbers[] = {
    {"Auto Run", &OptionsSettings::auto_run, kKeepNegative},
    {"Start Minimized", &OptionsSettings::start_minimized, kKeepNegative},
    {"Always On Top", &OptionsSettings::always_on_top, kKeepNegative},
    {"Show Splash", &OptionsSettings::show_splash, kKeepNegative},
    {"Hide Wallpaper", &OptionsSettings::hide_wallpaper, kKeepNegative},
    {"Show Border", &OptionsSettings::show_border, kKeepNegative},
    {"Overwrite Option", &OptionsSettings::overwrite_option, kKeepNegative},
};

// The Info page's texts.
const std::pair<const char*, std::string InfoSettings::*> kInfoTexts[] = {
    {"Title", &InfoSettings::title},
    {"Author", &InfoSettings::author},
    {"Copyright", &InfoSettings::copyright},
    {"Description", &InfoSettings::description},
};

}  // namespace

void AudioSettings::Load(SettingsStore* s) {
  *this = AudioSettings{};
  if (!s->HasKey(kKey)) {
    Save(s);
    return;
  }
  LoadNumbers(s, kKey, kAudioNumbers, this);
}

void AudioSettings::Save(SettingsStore* s) const { SaveNumbers(s, kKey, kAudioNumbers, *this); }

void InfoSettings::Load(SettingsStore* s) {
  *this = InfoSettings{};
  if (!s->HasKey(kKey)) {
    Save(s);
    return;
  }
  for (const auto& [name, field] : kInfoTexts) Text(s, kKey, name, kInfoBytes, &(this->*field));
}

void InfoSettings::Save(SettingsStore* s) const {
  for (const auto& [name, field] : kInfoTexts) s->WriteText(kKey, name, this->*field);
}

void OptionsSettings::Load(SettingsStore* s) {
  *this = OptionsSettings{};
  if (!s->HasKey(kKey)) {
    Save(s);
    return;
  }
  LoadNumbers(s, kKey, kOptionsNumbers, this);
}

void OptionsSettings::Save(SettingsStore* s) const { SaveNumbers(s, kKey, kOptionsNumbers, *this); }

void RecorderSettings::Load(SettingsStore* s, const std::string& documents) {
  video.Load(s, documents);
  audio.Load(s);
  info.Load(s);
  options.Load(s);
  s->Flush();  // a first run's defaults
}

void RecorderSettings::Save(SettingsStore* s, bool with_region) const {
  video.Save(s, with_region);
  audio.Save(s);
  info.Save(s);
  options.Save(s);
  s->Flush();
}

const SettingInfo* AllSettings(size_t* count) {
  *count = std::size(kAll);
  return kAll;
}

const SettingInfo* FindSetting(const std::string& key, const std::string& name) {
  for (const SettingInfo& s : kAll) {
    if (key == s.key && name == s.name) return &s;
  }
  return nullptr;
}

}  // namespace kmr
