// The installable compressor interface as the installed-compressor logic
// uses it: compressors listed by type and index, opened by handler code, and
// driven with formats given as bitmap info headers (40 bytes, possibly
// followed by codec data). Windows: the compressor manager (vfw32). Linux:
// libavcodec's encoders that suit screen video.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shared/container/container_format.h"

namespace kmr {

inline constexpr uint32_t kCompressorTypeVideo = FourCc('v', 'i', 'd', 'c');
// Capability flags of a compressor (VIDCF_*).
inline constexpr uint32_t kCompressorQuality = 0x1;
inline constexpr uint32_t kCompressorCrunch = 0x2;  // keeps to a frame size
inline constexpr uint32_t kCompressorTemporal = 0x4;
inline constexpr uint32_t kCompressorFastTemporal = 0x20;  // needs no previous frame handed in
// Compress call flags and output flags.
inline constexpr uint32_t kCompressKeyFrame = 0x1;            // ICCOMPRESS_KEYFRAME
inline constexpr uint32_t kCompressedKeyFrame = 0x10;         // AVIIF_KEYFRAME
inline constexpr uint32_t kDecompressNotKeyFrame = 0x08000000;  // ICDECOMPRESS_NOTKEYFRAME

struct CompressorInfo {
  uint32_t type = 0;
  uint32_t handler = 0;
  uint32_t flags = 0;
  uint32_t version = 0;
  std::u16string name, description, driver;
};

// The frames-information message.
struct FramesInfo {
  uint32_t flags = 0;
  uint32_t start_frame = 0;
  uint32_t frame_count = 0;
  uint32_t quality = 0;
  uint32_t data_rate = 0;
  uint32_t key_rate = 0;
  uint32_t rate = 0;
  uint32_t scale = 0;
};

struct CompressCall {
  uint32_t flags = 0;
  std::vector<uint8_t>* out_format = nullptr;  // its image size says how much was written
  uint8_t* out = nullptr;
  const std::vector<uint8_t>* in_format = nullptr;
  const uint8_t* in = nullptr;
  uint32_t out_flags = 0;  // in: preset; out: what the compressor says about the frame
  uint32_t frame = 0;
  uint32_t size_limit = 0;
  uint32_t quality = 0;
  const std::vector<uint8_t>* prev_format = nullptr;  // null: no previous frame given
  const uint8_t* prev = nullptr;
};

// One compressor opened for compression; destruction closes it.
class CompressorDriver {
 public:
  virtual ~CompressorDriver() = default;
  virtual bool GetInfo(CompressorInfo* info) = 0;
  // Whether it takes the input format (any output).
  virtual bool CompressQuery(const std::vector<uint8_t>& in) = 0;
  // The configuration state: its size (0 or less: none), reading and writing it.
  virtual int32_t StateSize() = 0;
  virtual bool GetState(std::vector<uint8_t>* state) = 0;
  virtual bool SetState(const std::vector<uint8_t>& state) = 0;
  // The output format for an input format; false for none or an error.
  virtual bool GetOutputFormat(const std::vector<uint8_t>& in, std::vector<uint8_t>* out) = 0;
  virtual uint32_t MaxCompressedSize(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) = 0;
  // 0 or less when the compressor has no default.
  virtual int32_t DefaultKeyFrameRate() = 0;
  virtual int32_t DefaultQuality() = 0;
  virtual void SendFramesInfo(const FramesInfo& info) = 0;
  virtual bool CompressBegin(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) = 0;
  virtual void CompressEnd() = 0;
  virtual bool DecompressBegin(const std::vector<uint8_t>& in, const std::vector<uint8_t>& out) = 0;
  virtual void DecompressEnd() = 0;
  virtual bool Compress(CompressCall* call) = 0;
  virtual bool Decompress(uint32_t flags, const std::vector<uint8_t>& in_format, const uint8_t* data,
                          const std::vector<uint8_t>& out_format, uint8_t* out) = 0;
  virtual bool HasConfigureDialog() = 0;
  virtual bool ShowConfigureDialog(void* owner) = 0;
};

class CompressorManager {
 public:
  virtual ~CompressorManager() = default;
  // Before listing: quiets compressors that would show windows while
  // recording (the XviD status window on Windows).
  virtual void PrepareListing() {}
  // The index-th installed compressor of a type; false past the last.
  virtual bool Info(uint32_t type, uint32_t index, CompressorInfo* info) = 0;
  // Opens it for compression; null when it cannot be opened.
  virtual std::unique_ptr<CompressorDriver> Open(uint32_t type, uint32_t handler) = 0;
};

std::unique_ptr<CompressorManager> MakeSystemCompressorManager();

}  // namespace kmr
