// Sources for stream tests: a video source whose format and next encoded
// frame the test sets, and an audio format source.
#pragma once

#include <vector>

#include "recorder/outputs/video_source.h"

namespace kmr::testing {

class FakeVideoSource : public EncodedVideoSource {
 public:
  FakeVideoSource(int32_t width, int32_t height, uint16_t bits, uint32_t fps, bool lossless = true)
      : fps_(fps), lossless_(lossless), rect_{0, 0, width, height} {
    info_.width = width;
    info_.height = -height;  // captured images are top-down
    info_.bit_count = bits;
    info_.size_image = DibStride(static_cast<uint32_t>(width), bits) * static_cast<uint32_t>(height);
    if (bits == 8) {
      table_.resize(1024);
      for (size_t i = 0; i < table_.size(); ++i) table_[i] = static_cast<uint8_t>(i * 7);
    } else if (bits == 16) {
      table_ = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    }
  }

  void SetFrame(std::vector<uint8_t> data, bool key) {
    frame_ = std::move(data);
    key_ = key;
  }
  void SetFps(uint32_t fps) { fps_ = fps; }

  uint32_t Fps() const override { return fps_; }
  uint32_t Compression() const override { return lossless_ ? kFourCcLossless : kFourCcLossy; }
  uint32_t BitDepth() const override { return info_.bit_count; }
  const BitmapInfoHeader& BitmapInfo() const override { return info_; }
  const std::vector<uint8_t>& ColourTable() const override { return table_; }
  Rect CaptureRect() const override { return rect_; }
  bool IsKeyFrame() const override { return key_; }
  const uint8_t* EncodedData() const override { return frame_.data(); }
  uint32_t EncodedSize() const override { return static_cast<uint32_t>(frame_.size()); }

 private:
  uint32_t fps_;
  bool lossless_;
  Rect rect_;
  BitmapInfoHeader info_;
  std::vector<uint8_t> table_;
  std::vector<uint8_t> frame_;
  bool key_ = false;
};

class FakeAudioSource : public AudioFormatSource {
 public:
  std::vector<uint8_t> WaveFormat() const override {
    WaveFormatMp3 f;
    f.channels = 2;
    f.samples_per_sec = 44100;
    f.avg_bytes_per_sec = 16000;
    f.block_align = 1;
    f.block_size = 417;
    return f.Serialize();
  }
};

}  // namespace kmr::testing
