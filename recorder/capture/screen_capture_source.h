// The capture and encoding half of the screen video source: attaches a
// mirror, keeps the working frame C and the reference frames current from the
// mirror's surface over the changed region only, and encodes each frame with
// the lossless codec. The frame clock that steps it lives in the engine.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "platform/mirror/mirror.h"
#include "platform/region/region.h"
#include "recorder/codecs/lossless_encoder.h"
#include "recorder/capture/change_ring_reader.h"
#include "recorder/engine/frame_capturer.h"
#include "shared/pixel/convert.h"
#include "shared/plane.h"

namespace kmr {

class ScreenCaptureSource : public FrameCapturer {
 public:
  static constexpr uint64_t kDefaultKeyInterval = 52428800;  // 50 MiB of commands
  static constexpr uint32_t kDefaultFps = 15;

  ScreenCaptureSource(platform::Mirror* mirror, platform::DesktopState* desktop);
  ~ScreenCaptureSource() override;

  // Attaches the mirror, maps its surface and ring, sets up the frames and
  // requests a key frame. On failure everything is undone.
  bool Prepare(bool lossless, bool own_codec) override;
  // Undoes Prepare; safe on a closed source.
  void Release() override;
  bool IsStarted() const override { return started_; }

  // Paints what lies outside a screen that has become smaller than the surface.
  bool Capture() override;
  // One frame: collect the changes, refresh C over them, encode.
  bool Encode() override;

  void RequestKeyFrame();
  void SetKeyInterval(uint64_t bytes) override { key_interval_ = bytes; }
  uint64_t BytesSinceKeyFrame() const { return bytes_since_key_; }
  void SetFps(uint32_t fps) override { fps_ = fps; }
  // The tracker's rectangle (screen coordinates; all zero = whole surface).
  void SetRect(const Rect& r) override;
  const Rect& StoredRect() const { return stored_rect_; }

  // The working frame and its format (frames are the surface's full size).
  const PlaneView& Frame() const override { return c_.view(); }
  const PlaneView& Reference(int i) const { return i == 1 ? r1_.view() : i == 2 ? r2_.view() : r3_.view(); }
  bool IsOwnCodec() const { return own_codec_; }
  const platform::Region& DirtyRegion() const { return dirty_; }
  // Rectangles delivered by the last ring drain (for tests and statistics).
  uint32_t LastRingCount() const { return last_ring_count_; }

  // EncodedVideoSource.
  uint32_t Fps() const override { return fps_; }
  bool IsLossless() const override { return lossless_; }
  uint32_t BitDepth() const override { return info_.bit_count; }
  const BitmapInfoHeader& BitmapInfo() const override { return info_; }
  const std::vector<uint8_t>& ColourTable() const override { return colours_; }
  Rect CaptureRect() const override;
  bool IsKeyFrame() const override { return key_frame_; }
  const uint8_t* EncodedData() const override { return encoder_.PacketData(); }
  uint32_t EncodedSize() const override { return encoder_.PacketLength(); }

 private:
  bool AttachMirror();
  void DetachMirror();
  bool SetUpFrames();
  void ReleaseFrames();
  void CollectChanges();
  bool CopyChangedRects();

  platform::Mirror* mirror_;
  LosslessEncoder encoder_;
  bool started_ = false;
  bool lossless_ = false;
  bool own_codec_ = false;
  bool attached_ = false;

  uint8_t* surface_ = nullptr;
  uint8_t* ring_ = nullptr;
  ChangeRingReader ring_reader_;
  platform::SurfaceFormat surface_format_;
  platform::ScreenMetrics screen_;
  BitmapInfoHeader info_;
  std::vector<uint8_t> colours_;
  uint32_t source_bpp_ = 0;  // bytes
  PixelConverter converter_ = nullptr;
  Plane c_, r1_, r2_, r3_;
  std::vector<uint8_t> scratch_;

  platform::Region dirty_, scratch_region_;
  std::vector<Rect> dirty_rects_;
  uint32_t last_ring_count_ = 0;

  bool key_pending_ = false;
  bool key_frame_ = false;
  uint64_t key_interval_ = 0;
  uint64_t bytes_since_key_ = 0;
  uint32_t fps_ = kDefaultFps;
  Rect stored_rect_;
};

}  // namespace kmr
