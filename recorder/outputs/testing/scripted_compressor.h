// A compressor for the compressing streams' tests: a fixed output format and
// one scripted result per frame.
#pragma once

#include <vector>

#include "recorder/codecs/video_compressor.h"
#include "shared/byte_io.h"

namespace kmr::testing {

class ScriptedCompressor : public VideoCompressor {
 public:
  ScriptedCompressor(uint32_t fourcc, int32_t width, int32_t height, uint32_t scale, uint32_t rate,
                     size_t extra_format_bytes = 0)
      : scale_(scale), rate_(rate) {
    ByteWriter w(&format_);
    w.U32(40);
    w.I32(width);
    w.I32(height);
    w.U16(1);
    w.U16(24);
    w.U32(fourcc);
    w.U32(static_cast<uint32_t>(width * height * 3));
    w.Zeros(16);
    w.Zeros(extra_format_bytes);
  }
  void TruncateFormat(size_t size) { format_.resize(size); }

  bool StartFrames(const std::vector<uint8_t>& input, uint32_t rate, uint32_t scale) override {
    started_with = input;
    rate_ = rate;
    scale_ = scale;
    return !refuse_start;
  }
  void FinishFrames() override { ++finished; }
  const std::vector<uint8_t>& OutputFormat() const override { return format_; }
  uint32_t Scale() const override { return scale_; }
  uint32_t Rate() const override { return rate_; }
  uint32_t BitRate() const override { return 800000; }
  bool CompressFrame(const void*, uint32_t) override {
    if (refuse) return false;
    ++frames;
    data_.assign(3, static_cast<uint8_t>(frames));
    key_ = frames % key_every == 1 || key_every == 1;
    return true;
  }
  const uint8_t* CompressedData() const override { return data_.data(); }
  uint32_t CompressedSize() const override { return static_cast<uint32_t>(data_.size()); }
  bool CompressedKeyFrame() const override { return key_; }

  int frames = 0;
  int key_every = 3;
  bool refuse = false;
  bool refuse_start = false;
  int finished = 0;
  std::vector<uint8_t> started_with;

 private:
  uint32_t scale_, rate_;
  std::vector<uint8_t> format_;
  std::vector<uint8_t> data_;
  bool key_ = false;
};

}  // namespace kmr::testing
