// Tells from a file's first and last bytes whether it is a recording the
// player reads: the own container (stand-alone, or appended to the player's
// program as a self-playing file), or another media file that carries the
// screen video codecs. What a type finder needs before a reader is chosen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kmr {

enum class RecordingKind {
  kNone,
  kOwnContainer,   // a stand-alone recording
  kSelfPlaying,    // a program with the recording appended
  kMediaWithOwnCodec,  // AVI, Matroska, Windows Media or MP4 with the own codecs
};

// peek(offset, n): n bytes at offset (a negative offset counts from the
// end), or null when they are not there. size: the file's length, 0 when
// unknown (then only the start of the file is looked at).
using PeekBytes = std::function<const uint8_t*(int64_t offset, size_t n)>;
RecordingKind SniffRecording(const PeekBytes& peek, uint64_t size);

}  // namespace kmr
