#include "shared/path_name.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/system/system.h"

namespace kmr {

namespace {
constexpr char kSep = platform::kPathSeparator;
}

bool PathName::Assign(const std::string& text) {
  if (text.size() >= kMaxPath) return false;
  std::memcpy(buf_, text.c_str(), text.size() + 1);
  return true;
}

bool PathName::SetToModulePath() {
  const std::string path = platform::ModuleFileName();
  return !path.empty() && Assign(path);
}

bool PathName::Set(const char* text) {
  if (text == nullptr) return false;
  return Assign(text);
}

long PathName::LastSeparator() const {
  const char* p = std::strrchr(buf_, kSep);
  return p ? static_cast<long>(p - buf_) : -1;
}

long PathName::ExtensionDot() const {
  const char* p = std::strrchr(buf_, '.');
  if (p == nullptr) return -1;
  const long dot = static_cast<long>(p - buf_);
  return dot > LastSeparator() ? dot : -1;
}

bool PathName::Directory(std::string* out, bool with_separator) const {
  if (out == nullptr) return false;
  const long sep = LastSeparator();
  if (sep < 0) {
    out->clear();
    return true;
  }
  out->assign(buf_, static_cast<size_t>(sep + (with_separator ? 1 : 0)));
  return true;
}

bool PathName::Name(std::string* out, bool with_extension) const {
  if (out == nullptr) return false;
  const long start = LastSeparator() + 1;
  long end = static_cast<long>(std::strlen(buf_));
  if (!with_extension) {
    const long dot = ExtensionDot();
    if (dot >= 0) end = dot;
  }
  out->assign(buf_ + start, static_cast<size_t>(end - start));
  return true;
}

bool PathName::Extension(std::string* out, bool with_dot) const {
  if (out == nullptr) return false;
  const long dot = ExtensionDot();
  if (dot < 0) {
    out->clear();
    return true;
  }
  out->assign(buf_ + dot + (with_dot ? 0 : 1));
  return true;
}

bool PathName::ReplaceExtension(const char* text) {
  if (text == nullptr) return false;
  std::string path(buf_);
  const long dot = ExtensionDot();
  if (dot >= 0) path.resize(static_cast<size_t>(dot));
  if (text[0] != '.') path += '.';
  path += text;
  return Assign(path);
}

bool PathName::Combine(const char* directory) {
  if (directory == nullptr) return false;
  std::string name;
  Name(&name, true);
  std::string path(directory);
  if (path.empty() || path.back() != kSep) path += kSep;
  path += name;
  return Assign(path);
}

bool PathName::Exists() const { return platform::PathExists(buf_); }

bool PathName::CreateDirectories(bool include_last) const {
  const std::string path(buf_);
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != kSep || i == 0) continue;
    const std::string prefix = path.substr(0, i + 1);
    if (platform::PathExists(prefix.c_str())) continue;
    if (!platform::MakeDirectory(prefix.c_str())) return false;
  }
  if (include_last && !path.empty() && path.back() != kSep && !platform::PathExists(buf_)) {
    return platform::MakeDirectory(buf_);
  }
  return true;
}

namespace {

struct NameParts {
  std::string directory;  // with its separator
  std::string stem;       // name without extension
  std::string extension;  // with its dot
  size_t digits = 0;      // trailing digits of the stem
  bool separator_before = false;
};

NameParts Split(const PathName& path, const char* separator) {
  NameParts p;
  path.Directory(&p.directory, true);
  path.Name(&p.stem, false);
  path.Extension(&p.extension, true);
  while (p.digits < p.stem.size() &&
         std::isdigit(static_cast<unsigned char>(p.stem[p.stem.size() - 1 - p.digits]))) {
    ++p.digits;
  }
  const size_t sep_len = separator ? std::strlen(separator) : 0;
  const size_t before = p.stem.size() - p.digits;
  p.separator_before = p.digits > 0 && before >= sep_len &&
                       p.stem.compare(before - sep_len, sep_len, separator ? separator : "") == 0;
  return p;
}

}  // namespace

long PathName::TrailingNumber(const char* separator) const {
  const NameParts p = Split(*this, separator);
  if (p.digits == 0 || !p.separator_before) return 0;
  long value = 0;
  for (size_t i = p.stem.size() - p.digits; i < p.stem.size(); ++i) {
    const int d = p.stem[i] - '0';
    if (value > (LONG_MAX - d) / 10) return LONG_MAX;  // saturate rather than wrap
    value = value * 10 + d;
  }
  return value;
}

bool PathName::SetTrailingNumber(long value, int min_digits, const char* separator) {
  if (value < 0 || min_digits < 0 || min_digits > 32) return false;
  const NameParts p = Split(*this, separator);
  std::string base = p.stem.substr(0, p.stem.size() - p.digits);
  const size_t sep_len = separator ? std::strlen(separator) : 0;
  if (p.digits > 0 && p.separator_before) {
    base.resize(base.size() - sep_len);
  } else if (p.digits > 0) {
    base = p.stem;  // the digits stay part of the base
  }
  char number[48];
  std::snprintf(number, sizeof(number), "%0*ld", min_digits, value);
  return Assign(p.directory + base + (separator ? separator : "") + number + p.extension);
}

bool PathName::NextNumber(int min_digits, const char* separator) {
  const long n = TrailingNumber(separator);
  if (n == LONG_MAX) return false;
  return SetTrailingNumber(n + 1, min_digits, separator);
}

bool NumberUntilFree(PathName* path) {
  while (path->Exists()) {
    if (!path->NextNumber(2, "#")) return false;
  }
  return true;
}

}  // namespace kmr
