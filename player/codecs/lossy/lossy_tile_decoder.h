// The lossy codec's decoder: one xvidcore decoder per tile, each chunk of a
// packet decoded straight into its tile's place in the picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shared/codec/xvid_library.h"
#include "shared/geometry.h"

namespace kmr {

class LossyTileDecoder {
 public:
  ~LossyTileDecoder() { Reset(); }
  bool Init(std::string* error);
  // Another library's entry points (a library loaded by name; tests).
  void UseLibrary(const XvidApi* api) { xvid_ = api; }
  // picture: width × height BGRX, stride bytes a row. tile_done is told each
  // decoded tile's rectangle (to copy it on). False for a packet that cannot
  // be decoded (a tile decoder that cannot be made, a chunk that runs past
  // the packet or names a tile outside the grid).
  bool Decode(const uint8_t* packet, size_t length, uint8_t* picture, int32_t stride, int32_t width, int32_t height,
              const std::function<bool(const Rect&)>& tile_done = {});
  void Reset();
  // Why the last packet failed.
  const std::string& Error() const { return error_; }

 private:
  struct Chunk {
    uint32_t tile;
    const uint8_t* data;
    uint32_t size;
  };
  static constexpr size_t kInputPadding = 64;
  std::vector<Chunk> chunks_;
  std::vector<uint8_t> input_;
  std::string error_;
  const XvidApi* xvid_ = nullptr;
  std::vector<void*> handles_;
};

}  // namespace kmr
