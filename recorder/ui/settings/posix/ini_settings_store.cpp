#include "recorder/ui/settings/posix/ini_settings_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/system/system.h"

namespace kmr {

namespace {

// Texts keep line breaks and backslashes through \n and \\.
std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool ParseNumber(const std::string& s, int32_t* value) {
  if (s.empty() || s.size() > 11) return false;
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  if (s[0] == '-') v = -v;
  // Stored as the registry does: any 32-bit value, read back signed.
  if (v < INT32_MIN || v > UINT32_MAX) return false;
  *value = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

}  // namespace

IniSettingsStore::IniSettingsStore(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      if (Find(section, "") == nullptr) sections_.push_back({section, {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || section.empty()) continue;
    Set(section, line.substr(0, eq), Unescape(line.substr(eq + 1)));
  }
}

std::string* IniSettingsStore::Find(const std::string& key, const std::string& name) {
  for (auto& [k, values] : sections_) {
    if (k != key) continue;
    if (name.empty()) return &k;
    for (auto& [n, v] : values) {
      if (n == name) return &v;
    }
    return nullptr;
  }
  return nullptr;
}

void IniSettingsStore::Set(const std::string& key, const std::string& name, const std::string& raw) {
  if (std::string* v = Find(key, name)) {
    *v = raw;
    return;
  }
  for (auto& [k, values] : sections_) {
    if (k == key) {
      values.push_back({name, raw});
      return;
    }
  }
  sections_.push_back({key, {{name, raw}}});
}

bool IniSettingsStore::HasKey(const std::string& key) {
  for (const auto& s : sections_) {
    if (s.first == key) return true;
  }
  return false;
}

bool IniSettingsStore::ReadNumber(const std::string& key, const std::string& name, int32_t* value) {
  const std::string* v = Find(key, name);
  return v != nullptr && ParseNumber(*v, value);
}

bool IniSettingsStore::ReadText(const std::string& key, const std::string& name, std::string* value) {
  const std::string* v = Find(key, name);
  if (v == nullptr) return false;
  *value = *v;
  return true;
}

void IniSettingsStore::WriteNumber(const std::string& key, const std::string& name, int32_t value) {
  Set(key, name, std::to_string(value));
}

void IniSettingsStore::WriteText(const std::string& key, const std::string& name, const std::string& value) {
  Set(key, name, value);
}

bool IniSettingsStore::Flush() {
  std::error_code ec;
  const std::filesystem::path target(path_);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  const std::string temp = path_ + ".new";
  std::FILE* f = std::fopen(temp.c_str(), "w");
  if (f == nullptr) {
    error_ = platform::ErrnoText(errno);
    return false;
  }
  std::string text = "# The screen recorder's settings (kelvo config lists and changes them).\n";
  for (const auto& [key, values] : sections_) {
    text += "\n[" + key + "]\n";
    for (const auto& [name, value] : values) text += name + "=" + Escape(value) + "\n";
  }
  errno = 0;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0 &&
            ::fsync(fileno(f)) == 0;
  const int e = errno;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    error_ = platform::ErrnoText(e != 0 ? e : EIO);
    std::remove(temp.c_str());
    return false;
  }
  if (before_rename_ && !before_rename_()) return false;  // "crashed" here
  std::filesystem::rename(temp, target, ec);
  if (ec) {
    error_ = platform::ErrnoText(ec.value());
    return false;
  }
  return true;
}

std::string IniSettingsStore::DefaultPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  std::string base = config != nullptr && config[0] != '\0' ? config
                     : home != nullptr                     ? std::string(home) + "/.config"
                                                            : ".";
  return base + "/norvane/kelvo.conf";
}

std::string IniSettingsStore::DocumentsFolder() {
  const char* docs = std::getenv("XDG_DOCUMENTS_DIR");
  const char* home = std::getenv("HOME");
  std::string d = docs != nullptr && docs[0] != '\0' ? docs : home != nullptr ? std::string(home) + "/Documents" : ".";
  if (d.back() != '/') d += '/';
  return d;
}

}  // namespace kmr
