// One codec's half of the player's screen video decoder: keeps the decoded
// picture P and applies each packet to it, telling which rectangles changed
// so the display's copy can follow. A new codec is a class and a row in the
// decoder table beside MakeFrameDecoder, next to its OwnCodecInfo.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "shared/geometry.h"
#include "shared/plane.h"

namespace kmr {

struct OwnCodecInfo;

class FrameDecoder {
 public:
  virtual ~FrameDecoder() = default;
  // A zero-filled picture of the stream's geometry (stride 0: rows of
  // width × bytes per pixel rounded up to 4 bytes). False with Error().
  virtual bool SetFormat(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride) = 0;
  // Told each rectangle of P that a packet wrote; false stops the packet.
  using ChangeSink = std::function<bool(const Rect&)>;
  // Applies a packet to P. A packet that cannot be decoded fails with a
  // one-line Error().
  virtual bool Decode(const uint8_t* packet, size_t length, const ChangeSink& changed) = 0;
  virtual const PlaneView& Picture() const = 0;
  virtual const std::string& Error() const = 0;
  // Back to the state after SetFormat (a black picture, no history), for
  // decoding to start again at a key frame.
  virtual void Restart() = 0;
  // The frame's bytes per pixel this codec needs (0: any the format says).
  virtual uint32_t RequiredBytesPerPixel() const { return 0; }
  // False when the codec's library is missing (Error says what).
  virtual bool Ready() const { return true; }
};

// The decoder for a stream format's compression code; null with *error for
// one this player cannot decode (or whose library is missing).
std::unique_ptr<FrameDecoder> MakeFrameDecoder(uint32_t compression, std::string* error);
// Whether this player has a decoder for the own codec (available or not).
bool HasFrameDecoder(const OwnCodecInfo& codec);

}  // namespace kmr
