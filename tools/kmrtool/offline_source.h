// Encodes raw frames offline: the changed region comes from comparing each
// frame with the previous one (there is no mirror), with no pointer and no
// foreground window. Stands in for the screen video source towards the
// container's video stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "recorder/codecs/frame_differ.h"
#include "recorder/codecs/own_codecs.h"
#include "recorder/outputs/video_source.h"
#include "tools/kmrtool/motion_estimator.h"

namespace kmr {

// What the offline encoder tells the lossless encoder about the desktop: a
// drag found by the motion estimator, as a window under a moving pointer with
// the button down; otherwise nothing.
class OfflineDesktopState : public platform::DesktopState {
 public:
  platform::PointerState Pointer() override { return pointer; }
  bool ForegroundWindow(Rect* rect, platform::Region* region) override {
    if (!has_window) return false;
    *rect = window;
    region->SetRect(window);
    return true;
  }
  bool LeftButtonDown() override { return has_window; }
  platform::PointerState pointer;
  bool has_window = false;
  Rect window;
};

class OfflineSource : public EncodedVideoSource {
 public:
  static constexpr uint64_t kDefaultKeyInterval = 52428800;

  // bits: 8, 16, 24 or 32 (the lossy codec takes 32 only). codec: one of
  // the own codecs; null for the lossless one. Ok() tells whether the codec
  // started.
  OfflineSource(int32_t width, int32_t height, uint32_t bits, uint32_t fps, const OwnCodec* codec = nullptr);
  ~OfflineSource() override;
  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }
  void SetKeyInterval(uint64_t bytes) { encoder_->SetKeyInterval(bytes); }

  // The next frame is coded whole, decodable without the ones before.
  void RequestKeyFrame() { key_pending_ = true; }
  // Look for dragged blocks (on by default for codecs that read the desktop).
  void SetMotionSearch(bool on) { motion_search_ = on; }

  // Rows top-down, width × bytes per pixel each, no padding.
  bool EncodeFrame(const uint8_t* raw);
  size_t RawFrameBytes() const { return static_cast<size_t>(width_) * height_ * bpp_; }

  uint32_t Fps() const override { return fps_; }
  uint32_t Compression() const override { return encoder_->FourCc(); }
  uint32_t BitDepth() const override { return bpp_ * 8; }
  const BitmapInfoHeader& BitmapInfo() const override { return info_; }
  const std::vector<uint8_t>& ColourTable() const override { return colours_; }
  Rect CaptureRect() const override { return area_; }
  bool IsKeyFrame() const override { return encoder_->IsKeyFrame(); }
  const uint8_t* EncodedData() const override { return encoder_->PacketData(); }
  uint32_t EncodedSize() const override { return encoder_->PacketLength(); }

 private:
  int32_t width_, height_;
  uint32_t bpp_, fps_;
  Rect area_;  // the frames' size: the codec may need even sides
  BitmapInfoHeader info_;
  std::vector<uint8_t> colours_;
  Plane next_, c_;
  OfflineDesktopState desktop_;
  MotionEstimator motion_;
  std::vector<Rect> changed_;
  std::unique_ptr<FrameEncoder> encoder_;
  FrameDiffer differ_;
  platform::Region dirty_;
  bool key_pending_ = true;
  bool motion_search_ = true;
  bool ok_ = false;
  std::string error_;
};

}  // namespace kmr
