// The Windows Media Format runtime as the Windows Media writer uses it: a
// profile built at run time (one profile stream per output stream, with its
// media type), the output file, codec information and text attributes in the
// header, and samples written already compressed. Windows: wmvcore.dll
// (loaded at run time). Linux: libavformat's ASF muxer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shared/container/container_format.h"

namespace kmr {

inline constexpr uint32_t kWmProfileVersion9 = 0x90000;
inline constexpr uint32_t kWmCleanPoint = 1;  // WM_SF_CLEANPOINT

// The media type of a stream: the 72-byte record and its format block.
struct WmMediaType {
  StreamHeader header;
  std::vector<uint8_t> format;
};

struct WmProfileStream {
  Guid major_type;
  uint16_t number = 0;
  uint32_t bitrate = 0;
  uint32_t buffer_window = 0;  // ms
  // "_VBRENABLED" and the peak values "_RMAX" and "_BMAX" in the property vault.
  bool variable_bit_rate = false;
  uint32_t rmax = 0;
  uint32_t bmax = 0;
  WmMediaType type;
};

// A sample buffer the runtime hands out.
class WmSample {
 public:
  virtual ~WmSample() = default;  // releases it
  virtual uint8_t* Data() = 0;
  virtual uint32_t Capacity() const = 0;
  virtual bool SetLength(uint32_t length) = 0;
};

// One runtime writer (with its header-info and advanced interfaces) and the
// profile manager.
class WmRuntime {
 public:
  virtual ~WmRuntime() = default;
  // Releases any previous profile and makes an empty one of that version.
  virtual bool CreateProfile(uint32_t version) = 0;
  // Adds a stream to the profile; false when the runtime refuses the stream
  // or its media type (the stream is then left out of the profile).
  virtual bool AddProfileStream(const WmProfileStream& stream) = 0;
  virtual void ReleaseProfile() = 0;
  // Gives the profile to the writer.
  virtual bool SetProfile() = 0;
  // Every input is told it gets samples already compressed.
  virtual bool SetInputsUncompressedNone() = 0;
  virtual bool SetOutputFilename(const std::u16string& path) = 0;
  virtual void AddCodecInfo(const std::u16string& name, const std::u16string& description, uint16_t type,
                            const std::vector<uint8_t>& info) = 0;
  // A string attribute: value length in bytes = 2 × characters.
  virtual void AddStringAttribute(uint16_t stream, const std::u16string& name, const std::u16string& value) = 0;
  virtual bool BeginWriting() = 0;
  virtual bool EndWriting() = 0;
  // Null when the runtime has no buffer of that size.
  virtual std::unique_ptr<WmSample> AllocateSample(uint32_t size) = 0;
  // Times in 100-ns units, send time in ms.
  virtual bool WriteStreamSample(uint16_t stream_number, uint64_t sample_time, uint32_t send_time,
                                 uint64_t duration, uint32_t flags, WmSample* sample) = 0;
  // Why the last call failed, when the runtime says; empty otherwise.
  virtual std::string Error() const { return {}; }
};

class WmRuntimeFactory {
 public:
  virtual ~WmRuntimeFactory() = default;
  // The writer and its interfaces; null with *error when the runtime is
  // missing or refuses.
  virtual std::unique_ptr<WmRuntime> CreateWriter(std::string* error) = 0;
};

std::unique_ptr<WmRuntimeFactory> MakeSystemWmRuntimeFactory();

}  // namespace kmr
