// Decoder of the lossless screen codec: inflates a packet, checks every
// command against the planes and the payload, applies the runs to the picture
// P, then updates the reference planes. A damaged packet fails and leaves P
// and R1-R3 as they were.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shared/codec/row_command.h"
#include "shared/plane.h"

namespace kmr {

class LosslessDecoder {
 public:
  static constexpr uint32_t kBufferStep = 262144;

  // Zero-filled planes of the stream's geometry. Fails for sizes the codec
  // cannot address or bytes per pixel other than 1 to 4.
  bool SetFormat(int32_t width, int32_t height, uint32_t bytes_per_pixel, uint32_t stride);

  // Called for each run written into P (x, y, pixels), for the display mirror.
  using RunSink = std::function<void(int32_t x, int32_t y, int32_t n)>;
  // before_apply: runs after inflating and checking, before P is touched;
  // returning false fails the decode (the display mirror cannot be locked).
  bool Decode(const uint8_t* packet, size_t length, const RunSink& sink = nullptr,
              const std::function<bool()>& before_apply = nullptr);

  // Black planes again, as after SetFormat (decoding starts at a key frame).
  void Restart() {
    p_.Zero();
    r1_.Zero();
    r2_.Zero();
    r3_.Zero();
  }
  const PlaneView& Picture() const { return p_.view(); }
  const PlaneView& R1() const { return r1_.view(); }
  const PlaneView& R2() const { return r2_.view(); }
  const PlaneView& R3() const { return r3_.view(); }
  const std::string& Error() const { return error_; }

 private:
  bool Inflate(const uint8_t* packet, size_t length);
  bool Validate();
  bool Fail(const char* why) {
    error_ = why;
    return false;
  }

  Plane p_, r1_, r2_, r3_;
  std::vector<uint8_t> payload_;
  size_t payload_length_ = 0;
  std::string error_;
};

}  // namespace kmr
