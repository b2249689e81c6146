#include "player/codecs/lossy/lossy_tile_decoder.h"

#include <xvid.h>

#include <cstring>
#include <string>

#include "shared/codec/tile_grid.h"

namespace kmr {

bool LossyTileDecoder::Init(std::string* error) {
  xvid_ = Xvid(error);
  return xvid_ != nullptr;
}

void LossyTileDecoder::Reset() {
  for (void* h : handles_) {
    if (h != nullptr && xvid_ != nullptr) xvid_->decore(h, XVID_DEC_DESTROY, nullptr, nullptr);
  }
  handles_.clear();
}

bool LossyTileDecoder::Decode(const uint8_t* packet, size_t length, uint8_t* picture, int32_t stride, int32_t width,
                              int32_t height, const std::function<bool(const Rect&)>& tile_done) {
  if (xvid_ == nullptr || picture == nullptr || width <= 0 || height <= 0) {
    error_ = "the lossy decoder is not set up";
    return false;
  }
  const TileGrid grid(width, height);
  if (handles_.size() != static_cast<size_t>(grid.Count())) {
    Reset();
    for (int32_t i = 0; i < grid.Count(); ++i) {
      const Rect t = grid.Tile(i);
      xvid_dec_create_t create;
      std::memset(&create, 0, sizeof(create));
      create.version = kXvidVersion;
      create.width = t.Width();
      create.height = t.Height();
      if (xvid_->decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0 || create.handle == nullptr) {
        Reset();
        error_ = "a tile decoder could not be made";
        return false;
      }
      handles_.push_back(create.handle);
    }
  }
  // Every chunk is checked before any is decoded, so a damaged packet leaves
  // the picture as it was.
  chunks_.clear();
  for (size_t at = 0; at < length;) {
    if (length - at < 8) {
      error_ = "the packet ends inside a tile's header";
      return false;
    }
    const uint8_t* h = packet + at;
    const uint32_t tile = h[0] | h[1] << 8;
    const uint32_t size = h[4] | h[5] << 8 | h[6] << 16 | static_cast<uint32_t>(h[7]) << 24;
    // The encoder never writes a tile outside the grid or a chunk longer
    // than the packet: such a packet is damaged.
    if (tile >= handles_.size()) {
      error_ = "tile " + std::to_string(tile) + " is outside the " + std::to_string(handles_.size()) + "-tile grid";
      return false;
    }
    if (size > length - at - 8 || size > 0x7FFFFFFFu) {
      error_ = "tile " + std::to_string(tile) + "'s data runs past the end of the packet";
      return false;
    }
    chunks_.push_back(Chunk{tile, h + 8, size});
    at += 8 + size;
  }
  for (const Chunk& chunk : chunks_) {
    const uint32_t tile = chunk.tile;
    const Rect t = grid.Tile(static_cast<int32_t>(tile));
    // The library's bit reader fetches whole words and may look a few bytes
    // past the data it was given: it reads a copy with zero padding.
    input_.assign(chunk.data, chunk.data + chunk.size);
    input_.resize(chunk.size + kInputPadding, 0);
    const uint8_t* data = input_.data();
    int left = static_cast<int>(chunk.size);
    // A stream's first chunk starts with its headers, which the library may
    // take in a call of their own: go on while it consumes bytes.
    for (int tries = 0; tries < 4 && left > 0; ++tries) {
      xvid_dec_frame_t frame;
      std::memset(&frame, 0, sizeof(frame));
      frame.version = kXvidVersion;
      frame.general = 0;
      frame.bitstream = const_cast<uint8_t*>(data);
      frame.length = left;
      frame.output.csp = XVID_CSP_BGRA;
      frame.output.plane[0] = picture + static_cast<size_t>(t.top) * stride + static_cast<size_t>(t.left) * 4;
      frame.output.stride[0] = stride;
      xvid_dec_stats_t stats;
      std::memset(&stats, 0, sizeof(stats));
      stats.version = kXvidVersion;
      const int used = xvid_->decore(handles_[tile], XVID_DEC_DECODE, &frame, &stats);
      if (stats.type == XVID_TYPE_VOL && (stats.data.vol.width != t.Width() || stats.data.vol.height != t.Height())) {
        // The library takes a stream's own size and would write a picture
        // of that size into the tile's place: refuse it, and start this
        // grid's decoders anew with the next packet.
        Reset();
        error_ = "tile " + std::to_string(tile) + " holds a picture of another size";
        return false;
      }
      if (used <= 0) break;
      data += used;
      left -= used;
      if (stats.type > 0) break;  // a picture was decoded
    }
    if (tile_done && !tile_done(t)) {
      error_ = "the decoded tile could not be shown";
      return false;
    }
  }
  return true;
}

}  // namespace kmr
