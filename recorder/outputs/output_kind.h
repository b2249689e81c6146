// The kinds of output file a recording can be written as, picked by the
// file's extension.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kmr {

// What a recording is written as: the writer, its name and extension, and
// the format index the recorder's settings use for it (Matroska and MP4 are
// written by the AVI writer's family).
enum class OutputKind { kExecutable, kAvi, kWindowsMedia, kMatroska, kMp4 };
inline constexpr size_t kOutputKinds = 5;
struct OutputKindInfo {
  OutputKind kind;
  const char* extension;  // also the --format name
  const char* name;       // the writer's display name
  int32_t format_index;   // the stored "Format" setting: 0 AVI family, 1 Windows Media, 2 self-playing
};
const OutputKindInfo& Describe(OutputKind kind);
// By the path's extension (case does not matter); a self-playing recording
// for any other extension or none.
OutputKind OutputKindForPath(const std::string& path);
// By name ("avi", "wmv" or "asf", "mkv", "mp4", "exe"; case does not
// matter); false for other names.
bool OutputKindFromName(const std::string& name, OutputKind* kind);
// The kind of the recorder window's stored "Format" setting (0 AVI, 1
// Windows Media, 2 self-playing; anything else self-playing).
OutputKind OutputKindOfFormatIndex(int32_t index);

}  // namespace kmr
