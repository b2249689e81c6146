// libavcodec's encoders that suit screen video, as installed compressors.
// Options for an encoder ("key=value,...") are given before it is opened,
// in place of a configuration dialog.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "recorder/codecs/installed/compressor_driver.h"

namespace kmr {

class LibavCompressorManager : public CompressorManager {
 public:
  LibavCompressorManager();
  bool Info(uint32_t type, uint32_t index, CompressorInfo* info) override;
  std::unique_ptr<CompressorDriver> Open(uint32_t type, uint32_t handler) override;

  // The handler code of an encoder by its name ("libx264"), 0 for none.
  static uint32_t HandlerOf(const std::string& encoder);
  static std::string EncoderOf(uint32_t handler);
  // Checks the options against the encoder; false with *error for an option
  // the encoder does not have or a value it refuses.
  bool SetOptions(const std::string& encoder, const std::string& options, std::string* error);

 private:
  std::map<uint32_t, std::string> options_;
};

}  // namespace kmr
