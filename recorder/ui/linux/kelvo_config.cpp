#include "recorder/ui/linux/kelvo_config.h"

#include <cerrno>
#include <cstdlib>

#include "recorder/ui/settings/settings_pages.h"

namespace kmr {

namespace {

const SettingInfo* Lookup(const std::string& full, std::string* err) {
  const size_t slash = full.find('/');
  const SettingInfo* s = slash == std::string::npos ? nullptr : FindSetting(full.substr(0, slash), full.substr(slash + 1));
  if (s == nullptr) *err = "no setting '" + full + "' (kelvo config lists them)";
  return s;
}

std::string Value(SettingsStore* store, const SettingInfo& s) {
  if (s.is_text) {
    std::string v;
    store->ReadText(s.key, s.name, &v);
    return v;
  }
  int32_t v = 0;
  store->ReadNumber(s.key, s.name, &v);
  return std::to_string(v);
}

}  // namespace

int RunKelvoConfig(const std::vector<std::string>& args, SettingsStore* store, const std::string& documents,
                   std::string* out, std::string* err) {
  // Loading writes every default on a first run, so every value is there.
  RecorderSettings settings;
  settings.Load(store, documents);
  if (args.empty()) {
    size_t n = 0;
    const SettingInfo* all = AllSettings(&n);
    for (size_t i = 0; i < n; ++i) *out += std::string(all[i].key) + "/" + all[i].name + " = " + Value(store, all[i]) + "\n";
    return 0;
  }
  if (args[0] == "get" && args.size() == 2) {
    const SettingInfo* s = Lookup(args[1], err);
    if (s == nullptr) return 2;
    *out = Value(store, *s) + "\n";
    return 0;
  }
  if (args[0] == "set" && args.size() == 3) {
    const SettingInfo* s = Lookup(args[1], err);
    if (s == nullptr) return 2;
    if (s->is_text) {
      store->WriteText(s->key, s->name, args[2]);
    } else {
      const std::string& text = args[2];
      char* end = nullptr;
      errno = 0;
      const long long v = std::strtoll(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > UINT32_MAX) {
        *err = args[1] + " takes a whole number, not '" + text + "'";
        return 2;
      }
      store->WriteNumber(s->key, s->name, static_cast<int32_t>(static_cast<uint32_t>(v)));
    }
    if (!store->Flush()) {
      *err = "the settings could not be saved";
      return 1;
    }
    return 0;
  }
  *err = "usage: kelvo config [get KEY/NAME | set KEY/NAME DATA]";
  return 2;
}

}  // namespace kmr
