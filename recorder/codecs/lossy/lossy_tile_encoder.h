// The lossy codec's encoder: the recorded rectangle cut into tiles of about
// 256 × 192, one xvidcore MPEG-4 encoder per tile, and each frame only the
// tiles whose pixels differ from the last coded picture R1 are coded. A
// packet is the chunks of the coded tiles: tile index (u16), key (u16: 2 for
// a key frame), length (i32), then the tile's bitstream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/codec/xvid_library.h"
#include "shared/geometry.h"

namespace kmr {

// A 32-bit BGRX picture in memory, rows top first.
struct FrameView {
  uint8_t* data = nullptr;
  int32_t stride = 0;  // bytes per row
};

class LossyTileEncoder {
 public:
  ~LossyTileEncoder() { Reset(); }
  // The process-wide library start; false with *error when it failed.
  bool Init(std::string* error);
  // Another library's entry points (a library loaded by name; tests).
  void UseLibrary(const XvidApi* api) { xvid_ = api; }
  // Codes the frame's changed tiles into *packet (appended). area: the
  // recorded rectangle in C and R1 (even sizes); dirty: where the screen
  // changed, in the same coordinates. R1 takes the changed tiles' pixels.
  // Every tile is coded when code_all is set, for new tile encoders, and when
  // the area moved: R1 then describes what the player shows at the old place,
  // not at the new one. A change of the area's size starts new encoders.
  bool EncodeChangedTiles(const FrameView& current, const FrameView& previous, const Rect& area,
                          const std::vector<Rect>& dirty, uint32_t fps, std::vector<uint8_t>* packet,
                          bool code_all = false);
  // Destroys every tile encoder (the next frame starts new streams with key
  // frames): when the recorded size changes and when capture stops.
  void Reset();
  size_t TileEncoders() const { return handles_.size(); }

 private:
  const XvidApi* xvid_ = nullptr;
  std::vector<void*> handles_;
  Rect last_area_;
  std::vector<uint8_t> bitstream_;
};

}  // namespace kmr
