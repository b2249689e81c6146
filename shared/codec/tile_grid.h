// The lossy codec's grid of tiles of about 256 × 192 pixels over a W × H
// picture: the same rule in the encoder and the decoder.
#pragma once

#include <cstdint>

#include "shared/geometry.h"

namespace kmr {

class TileGrid {
 public:
  static constexpr int32_t kTileWidth = 256;
  static constexpr int32_t kTileHeight = 192;

  TileGrid(int32_t width, int32_t height);
  int32_t Columns() const { return columns_; }
  int32_t Rows() const { return rows_; }
  int32_t Count() const { return columns_ * rows_; }
  // Tile index = row × columns + column; its rectangle relative to the
  // picture's top-left corner (the last column and row take the rest).
  Rect Tile(int32_t index) const;

 private:
  int32_t width_, height_, columns_, rows_;
};

}  // namespace kmr
