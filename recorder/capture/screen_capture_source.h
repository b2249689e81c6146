// The capture half of the screen video source: attaches a mirror, keeps the
// working frame C current from the mirror's surface over the changed region
// only, in the format the recording's encoder takes, and hands each frame on
// for coding. The frame clock that steps it is the screen video source's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "platform/mirror/mirror.h"
#include "platform/region/region.h"
#include "recorder/codecs/frame_encoder.h"
#include "recorder/capture/change_ring_reader.h"
#include "recorder/control/frame_capturer.h"
#include "shared/pixel/convert.h"
#include "shared/plane.h"

namespace kmr {

class ScreenCaptureSource : public FrameCapturer {
 public:
  static constexpr uint64_t kDefaultKeyInterval = 52428800;  // 50 MiB of commands
  static constexpr uint32_t kDefaultFps = 15;

  explicit ScreenCaptureSource(platform::Mirror* mirror);
  ~ScreenCaptureSource() override;

  // Attaches the mirror, maps its surface and ring, sets up the frames (in
  // the format the encoder takes), starts the encoder and requests a key
  // frame. On failure everything is undone and Error says why.
  bool Prepare(FrameEncoder* encoder) override;
  std::string Error() const override { return failure_; }
  // Undoes Prepare; safe on a closed source.
  void Release() override;
  bool IsStarted() const override { return started_; }

  // One frame: paints what lies outside a screen that has become smaller
  // than the surface, collects the changes and refreshes C over them.
  bool Capture(EncoderInput* frame) override;
  // The display mode changed; idle is true when no recording runs. Frames
  // are made for each recording by Prepare and every Capture reads the
  // screen's size, so a recording keeps its surface size (a smaller screen
  // is blacked out) and an idle source has nothing to rebuild. False when
  // not started.
  bool OnDisplayChange(bool idle);
  const platform::ScreenMetrics& Screen() const { return screen_; }

  void RequestKeyFrame() { key_pending_ = true; }
  bool KeyFramePending() const { return key_pending_; }
  void SetKeyInterval(uint64_t bytes) override {
    key_interval_ = bytes;
    if (encoder_ != nullptr) encoder_->SetKeyInterval(bytes);
  }
  void SetFps(uint32_t fps) override { fps_ = fps; }
  // The tracker's rectangle (screen coordinates; all zero = whole surface).
  void SetRect(const Rect& r) override;
  const Rect& StoredRect() const { return stored_rect_; }

  // The working frame and its format (frames are the surface's full size).
  const PlaneView& Frame() const override { return c_.view(); }
  const platform::Region& DirtyRegion() const { return dirty_; }
  // Rectangles delivered by the last ring drain (for tests and statistics).
  uint32_t LastRingCount() const { return last_ring_count_; }

  // The recorded rectangle in the frame (sides made even where the
  // encoder needs them).
  Rect CaptureRect() const;
  OwnVideoFormat Format() const override;

 private:
  bool AttachMirror();
  bool PaintBeyondTheScreen();
  void DetachMirror();
  bool SetUpFrames();
  bool Fail(const char* why) {
    failure_ = why;
    return false;
  }
  void ReleaseFrames();
  void CollectChanges();
  bool CopyChangedRects();

  platform::Mirror* mirror_;
  FrameEncoder* encoder_ = nullptr;
  bool started_ = false;
  bool attached_ = false;
  std::string failure_;

  uint8_t* surface_ = nullptr;
  uint8_t* ring_ = nullptr;
  ChangeRingReader ring_reader_;
  platform::SurfaceFormat surface_format_;
  platform::ScreenMetrics screen_;
  BitmapInfoHeader info_;
  std::vector<uint8_t> colours_;
  uint32_t source_bpp_ = 0;  // bytes
  PixelConverter converter_ = nullptr;
  Plane c_;

  platform::Region dirty_, scratch_region_;
  std::vector<Rect> dirty_rects_;
  uint32_t last_ring_count_ = 0;

  bool key_pending_ = false;
  uint64_t key_interval_ = 0;
  uint32_t fps_ = kDefaultFps;
  Rect stored_rect_;
};

}  // namespace kmr
