#include "shared/codec/tile_grid.h"

namespace kmr {

namespace {
// 1 below one tile; else whole tiles, one more when the rest is at least half a tile.
int32_t CountAlong(int32_t size, int32_t tile) {
  if (size < tile) return 1;
  return size / tile + (size % tile >= tile / 2 ? 1 : 0);
}
}  // namespace

TileGrid::TileGrid(int32_t width, int32_t height)
    : width_(width < 0 ? 0 : width),
      height_(height < 0 ? 0 : height),
      columns_(CountAlong(width_, kTileWidth)),
      rows_(CountAlong(height_, kTileHeight)) {}

Rect TileGrid::Tile(int32_t index) const {
  if (index < 0 || index >= Count()) return Rect{};
  const int32_t c = index % columns_, r = index / columns_;
  const int32_t right = c == columns_ - 1 ? width_ : kTileWidth * (c + 1);
  const int32_t bottom = r == rows_ - 1 ? height_ : kTileHeight * (r + 1);
  return Rect{kTileWidth * c, kTileHeight * r, right, bottom};
}

}  // namespace kmr
