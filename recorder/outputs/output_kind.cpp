#include "recorder/outputs/output_kind.h"

#include <cctype>

namespace kmr {

namespace {

constexpr OutputKindInfo kKinds[] = {
    {OutputKind::kExecutable, "exe", "Executable File", 2},
    {OutputKind::kAvi, "avi", "Audio Video Interleaved", 0},
    {OutputKind::kWindowsMedia, "wmv", "Windows Media Video", 1},
    {OutputKind::kMatroska, "mkv", "Matroska", 0},
    {OutputKind::kMp4, "mp4", "MPEG-4", 0},
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

const OutputKindInfo* KindByName(const std::string& name) {
  for (const OutputKindInfo& k : kKinds) {
    if (Lower(name) == k.extension) return &k;
  }
  return Lower(name) == "asf" ? &kKinds[2] : nullptr;
}

}  // namespace

const OutputKindInfo& Describe(OutputKind kind) {
  for (const OutputKindInfo& k : kKinds) {
    if (k.kind == kind) return k;
  }
  return kKinds[0];
}

OutputKind OutputKindForPath(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return OutputKind::kExecutable;
  const OutputKindInfo* k = KindByName(path.substr(dot + 1));
  return k != nullptr ? k->kind : OutputKind::kExecutable;
}

bool OutputKindFromName(const std::string& name, OutputKind* kind) {
  const OutputKindInfo* k = KindByName(name);
  if (k == nullptr) return false;
  *kind = k->kind;
  return true;
}

OutputKind OutputKindOfFormatIndex(int32_t index) {
  switch (index) {
    case 0: return OutputKind::kAvi;
    case 1: return OutputKind::kWindowsMedia;
    default: return OutputKind::kExecutable;
  }
}

}  // namespace kmr
