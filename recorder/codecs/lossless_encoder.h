// Encoder of the lossless screen codec: each frame becomes row commands
// against three reference planes, compressed as one zlib stream.
#pragma once


#include <cstdint>
#include <memory>
#include <vector>

#include "platform/desktop_state/desktop_state.h"
#include "platform/region/region.h"
#include "recorder/codecs/packet_deflater.h"
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

  const uint8_t* PacketData() const { return deflater_->Data(); }
  uint32_t PacketLength() const { return length_; }
  void ResetPacket() { length_ = 0; }
  // Frees the packet buffer and forgets the last pointer position.
  void Release();

  // The command kinds of the last frame, in order (for tests and statistics).
  const std::vector<uint16_t>& LastKinds() const { return kinds_; }
  void SetRecordKinds(bool on) { record_kinds_ = on; }

 private:
  bool Emit(const RowCommand& command, const uint8_t* data, size_t n);
  bool FinishStream();

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

  std::unique_ptr<PacketDeflater> deflater_;
  uint32_t length_ = 0;
  bool stream_open_ = false;  // a command of this frame began the packet
  uint64_t frame_bytes_ = 0;

  bool record_kinds_ = false;
  std::vector<uint16_t> kinds_;
};

}  // namespace kmr
