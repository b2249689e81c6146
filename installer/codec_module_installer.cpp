#include "installer/codec_module_installer.h"

#include <algorithm>
#include <cctype>

namespace kmr {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// An entry names the module by its file name, or by a path ending in it.
bool NamesModule(const std::string& data) {
  const std::string d = Lower(data);
  const std::string file = kCodecModuleFile;
  return d == file || (d.size() > file.size() && d.compare(d.size() - file.size(), file.size(), file) == 0 &&
                       (d[d.size() - file.size() - 1] == '\\' || d[d.size() - file.size() - 1] == '/'));
}

}  // namespace

bool InstallCodecModule(CodecModuleSystem* sys, std::string* error) {
  const std::string from = sys->ProgramDirectory() + kCodecModuleFile;
  const std::string to = sys->SystemDirectory() + kCodecModuleFile;
  if (!sys->FileExists(from)) {
    *error = codec_texts::kMissingModule;
    return false;
  }
  const bool was_there = sys->FileExists(to);
  // What each entry held before, to put back on a failure.
  struct Before {
    std::string name, data;
    bool existed;
  };
  std::vector<Before> before;
  bool ok = sys->CopyOver(from, to);
  for (const std::string& name : CodecModuleEntries()) {
    if (!ok) break;
    Before b{name, "", false};
    b.existed = sys->ReadDriverEntry(name, &b.data);
    before.push_back(b);
    ok = sys->WriteDriverEntry(name, kCodecModuleFile);
  }
  if (ok) return true;
  for (const Before& b : before) {
    if (b.existed) {
      sys->WriteDriverEntry(b.name, b.data);
    } else {
      sys->DeleteDriverEntry(b.name);
    }
  }
  if (!was_there) sys->RemoveFile(to);
  *error = codec_texts::kInstallFailed;
  return false;
}

bool RemoveCodecModule(CodecModuleSystem* sys, std::string* error) {
  bool found = false;
  bool ok = true;
  for (const std::string& name : CodecModuleEntries()) {
    std::string data;
    if (!sys->ReadDriverEntry(name, &data) || !NamesModule(data)) continue;
    found = true;
    ok = sys->DeleteDriverEntry(name) && ok;
  }
  const std::string file = sys->SystemDirectory() + kCodecModuleFile;
  if (sys->FileExists(file)) {
    found = true;
    ok = sys->RemoveFile(file) && ok;
  }
  if (!found) {
    *error = codec_texts::kNotFound;
    return false;
  }
  if (!ok) *error = codec_texts::kRemoveFailed;
  return ok;
}

}  // namespace kmr
