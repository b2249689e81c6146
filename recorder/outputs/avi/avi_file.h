// The AVI file library as the AVI writer uses it: a file of streams, each
// created from a stream information record and a format block, into which
// samples are written at sample indices. Windows: AVIFile (vfw32). Linux:
// libavformat, with the muxer chosen by the file's extension (AVI, Matroska,
// MP4), the stream's time base being scale / rate as in AVIFile.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shared/geometry.h"

namespace kmr {

inline constexpr uint32_t kAviStreamVideo = 0x73646976;  // "vids"
inline constexpr uint32_t kAviStreamAudio = 0x73647561;  // "auds"
inline constexpr uint32_t kAviKeyFrame = 0x10;           // AVIIF_KEYFRAME
// The open mode the writer asks for: create, write, exclusive share.
inline constexpr uint32_t kAviOpenCreateWrite = 4113;

// The library's stream information record (AVISTREAMINFO).
struct AviStreamInfo {
  uint32_t type = 0;
  uint32_t handler = 0;
  uint32_t flags = 0;
  uint32_t capabilities = 0;
  uint16_t priority = 0;
  uint16_t language = 0;
  uint32_t scale = 1;
  uint32_t rate = 0;
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t initial_frames = 0;
  uint32_t suggested_buffer_size = 0;
  uint32_t quality = 0xFFFFFFFF;
  uint32_t sample_size = 0;
  Rect frame;
  uint32_t edit_count = 0;
  uint32_t format_change_count = 0;
  std::string name;  // at most 63 characters are kept
};

class AviFileStream {
 public:
  // Releases the stream (AVIStreamRelease).
  virtual ~AviFileStream() = default;
  virtual bool SetFormat(const std::vector<uint8_t>& format) = 0;
  // samples samples at index start (-1: after the last one).
  virtual bool Write(int32_t start, int32_t samples, const void* data, uint32_t size, uint32_t flags) = 0;
};

class AviFile {
 public:
  // Releases the file (AVIFileRelease): what was written is finished.
  virtual ~AviFile() = default;
  // Null when the library refuses the stream. The stream must be released
  // before the file.
  virtual std::unique_ptr<AviFileStream> CreateStream(const AviStreamInfo& info) = 0;
  // Releases the file and says whether it was finished; a reason in *error
  // when not.
  virtual bool Release(std::string* error) = 0;
  // Why the last call failed, when the library says; empty otherwise.
  virtual std::string Error() const { return {}; }
};

class AviLibrary {
 public:
  virtual ~AviLibrary() = default;
  // Opens (creates) the file; null with *error set when it cannot.
  virtual std::unique_ptr<AviFile> Open(const std::string& path, uint32_t mode, std::string* error) = 0;
};

// The platform's library, initialised while the object lives (AVIFileInit
// and AVIFileExit on Windows).
std::unique_ptr<AviLibrary> MakeSystemAviLibrary();

}  // namespace kmr
