// Encodes raw frames offline: the changed region comes from comparing each
// frame with the previous one (there is no mirror), with no pointer and no
// foreground window. Stands in for the screen video source towards the
// container's video stream.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "recorder/codecs/frame_differ.h"
#include "recorder/codecs/lossless_encoder.h"
#include "recorder/engine/video_source.h"
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

class OfflineLosslessSource : public EncodedVideoSource {
 public:
  static constexpr uint64_t kDefaultKeyInterval = 52428800;

  // bits: 8, 16, 24 or 32.
  OfflineLosslessSource(int32_t width, int32_t height, uint32_t bits, uint32_t fps);
  void SetKeyInterval(uint64_t bytes) { key_interval_ = bytes; }

  // Look for dragged blocks (on by default).
  void SetMotionSearch(bool on) { motion_search_ = on; }

  // Rows top-down, width × bytes per pixel each, no padding.
  bool EncodeFrame(const uint8_t* raw);
  size_t RawFrameBytes() const { return static_cast<size_t>(width_) * height_ * bpp_; }

  uint32_t Fps() const override { return fps_; }
  bool IsLossless() const override { return true; }
  uint32_t BitDepth() const override { return bpp_ * 8; }
  const BitmapInfoHeader& BitmapInfo() const override { return info_; }
  const std::vector<uint8_t>& ColourTable() const override { return colours_; }
  Rect CaptureRect() const override { return Rect{0, 0, width_, height_}; }
  bool IsKeyFrame() const override { return key_frame_; }
  const uint8_t* EncodedData() const override { return encoder_.PacketData(); }
  uint32_t EncodedSize() const override { return encoder_.PacketLength(); }

 private:
  int32_t width_, height_;
  uint32_t bpp_, fps_;
  BitmapInfoHeader info_;
  std::vector<uint8_t> colours_;
  Plane next_, c_, r1_, r2_, r3_;
  std::vector<uint8_t> scratch_;
  OfflineDesktopState desktop_;
  MotionEstimator motion_;
  std::vector<Rect> changed_;
  LosslessEncoder encoder_{&desktop_};
  FrameDiffer differ_;
  platform::Region dirty_;
  bool key_pending_ = true;
  bool key_frame_ = false;
  uint64_t key_interval_ = kDefaultKeyInterval;
  uint64_t bytes_since_key_ = 0;
  bool motion_search_ = true;
};

}  // namespace kmr
