// The player's screen video decoder: the stream's codec keeps the decoded
// picture P and applies packets to it; every changed rectangle is copied
// into a copy in the display's pixel format that the view shows. One
// re-entrant lock guards decoding, the display copy and painting.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/sync/sync.h"
#include "player/codecs/frame_decoder.h"
#include "shared/container/container_format.h"
#include "shared/pixel/convert.h"

namespace kmr {

class ScreenVideoDecoder {
 public:
  // The display's format, used for display copies made from now on.
  void SetDisplayFormat(PixelFormat f);

  // header: the stream's bitmap information header (40 bytes) and, for 16-bit
  // frames, the three colour masks after it.
  bool SetFormat(const uint8_t* header, size_t size);
  // The decoder for a compression code (tests give the codec's library).
  using DecoderFactory = std::function<std::unique_ptr<FrameDecoder>(uint32_t compression, std::string* error)>;
  void SetDecoderFactory(DecoderFactory factory) { factory_ = std::move(factory); }
  bool Decode(const uint8_t* packet, size_t length);
  // A black picture and no decoding history, the format kept (a seek goes
  // back to a key frame); the display's copy follows.
  void Restart();
  void ReleaseAll();
  void ReleaseDisplayCopy();
  // The display copy in the display's format, filled from P. False when there is no
  // format or no conversion from the frame's format to the display's.
  bool CreateDisplayCopy();

  void LockDecoder() { mu_.Lock(); }
  void UnlockDecoder() { mu_.Unlock(); }

  // Under the lock: the frame and the display copy.
  int32_t FrameWidth() const { return width_; }
  int32_t FrameHeight() const { return height_; }
  uint32_t Compression() const { return compression_; }
  bool Is555() const { return is555_; }
  const PlaneView* Picture() const { return width_ && decoder_ ? &decoder_->Picture() : nullptr; }
  bool HasDisplayCopy() const { return !display_copy_.empty(); }
  const uint8_t* DisplayCopy() const { return display_copy_.data(); }
  uint32_t DisplayCopyPitch() const { return display_pitch_; }
  PixelFormat DisplayFormat() const { return display_; }
  const std::string& Error() const { return error_; }
  // What a device-independent bitmap of the picture needs (GDI drawing): the
  // 40-byte header for a top-down picture, then the 256 colour entries of an
  // 8-bit frame (the stream's 64 first, the rest black) or the three masks of
  // a 5-6-5 frame (bit fields). Empty without a format.
  std::vector<uint8_t> DibHeader() const;

 private:
  void CopyToDisplay(const Rect& r);

  mutable platform::Mutex mu_;
  PixelFormat display_{32, false};
  int32_t width_ = 0, height_ = 0;
  uint32_t bits_ = 0;
  bool is555_ = false;
  uint32_t compression_ = 0;
  std::vector<uint8_t> colours_;  // the stream's colour data
  DecoderFactory factory_ = MakeFrameDecoder;
  std::unique_ptr<FrameDecoder> decoder_;
  std::vector<uint8_t> display_copy_;
  uint32_t display_pitch_ = 0;
  PixelConverter converter_ = nullptr;
  std::string error_;
};

}  // namespace kmr
