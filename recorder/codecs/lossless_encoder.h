// Encoder of the lossless screen codec: each frame becomes row commands
// against three reference planes, compressed as one zlib stream.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "platform/region/region.h"
#include "shared/codec/row_command.h"
#include "shared/plane.h"

namespace kmr {

// The capture source's frames: the current frame C, the reference planes and
// one scratch row, all of the surface's size and stride.
struct LosslessFrames {
  PlaneView current;
  PlaneView r1;
  PlaneView r2;
  PlaneView r3;
  uint8_t* scratch = nullptr;
};

class LosslessEncoder {
 public:
  static constexpr uint32_t kBufferStep = 262144;

  // desktop: where the pointer, foreground window and button state come from.
  explicit LosslessEncoder(platform::DesktopState* desktop);
  ~LosslessEncoder();
  LosslessEncoder(const LosslessEncoder&) = delete;
  LosslessEncoder& operator=(const LosslessEncoder&) = delete;

  // One frame. dirty: the changed region, already clipped to capture
  // (surface coordinates). On success the packet holds the frame (length 0
  // when nothing needs sending) and the uncompressed command bytes are added
  // to *bytes_since_key.
  bool EncodeRowCommands(const LosslessFrames& frames, const Rect& capture, const platform::Region& dirty,
                         bool key_frame, uint64_t* bytes_since_key);

  const uint8_t* PacketData() const { return packet_.data(); }
  uint32_t PacketLength() const { return length_; }
  void ResetPacket() { length_ = 0; }
  // Frees the packet buffer and forgets the last pointer position.
  void Release();

  // The command kinds of the last frame, in order (for tests and statistics).
  const std::vector<uint16_t>& LastKinds() const { return kinds_; }
  void SetRecordKinds(bool on) { record_kinds_ = on; }

 private:
  bool BeginStream();
  bool Emit(const RowCommand& command, const uint8_t* data, size_t n);
  bool Deflate(const uint8_t* data, size_t n, int flush);
  bool FlushStaging(int flush);
  bool FinishStream();
  void EndStream();
  bool EnsureOutputSpace();

  void EncodeKeyFrame(const LosslessFrames& f, const Rect& capture, bool* ok);
  void EncodeCursorArea(const LosslessFrames& f, const Rect& capture, int32_t dx, int32_t dy, bool* ok);
  void EncodeWindowArea(const LosslessFrames& f, const Rect& capture, int32_t dx, int32_t dy, bool button,
                        bool* ok);
  void EncodeBackgroundArea(const LosslessFrames& f, const Rect& capture, bool* ok);
  static void CopyRects(const LosslessFrames& f, const std::vector<Rect>& rects, bool r1, bool r2, bool r3);

  platform::DesktopState* desktop_;
  int32_t last_x_ = 0;
  int32_t last_y_ = 0;

  platform::Region cursor_rect_, window_, cursor_area_, window_area_, background_area_, scratch_region_;
  std::vector<Rect> cursor_rects_, window_rects_, background_rects_;

  std::vector<uint8_t> packet_;
  uint32_t length_ = 0;
  z_stream zs_{};
  bool stream_open_ = false;
  // Commands are gathered here and handed to deflate in larger pieces.
  std::vector<uint8_t> staging_;
  size_t staged_ = 0;
  uint64_t frame_bytes_ = 0;

  bool record_kinds_ = false;
  std::vector<uint16_t> kinds_;
};

}  // namespace kmr
