#include "recorder/codecs/lossy/lossy_tile_encoder.h"

#include <xvid.h>

#include <cstring>

#include "shared/codec/tile_grid.h"

namespace kmr {

namespace {
void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}
}  // namespace

bool LossyTileEncoder::Init(std::string* error) {
  xvid_ = Xvid(error);
  return xvid_ != nullptr;
}

void LossyTileEncoder::Reset() {
  for (void* h : handles_) {
    if (h != nullptr && xvid_ != nullptr) xvid_->encore(h, XVID_ENC_DESTROY, nullptr, nullptr);
  }
  handles_.clear();
  last_area_ = Rect{};
}

bool LossyTileEncoder::EncodeChangedTiles(const FrameView& c, const FrameView& r1, const Rect& area,
                                          const std::vector<Rect>& dirty, uint32_t fps,
                                          std::vector<uint8_t>* packet, bool code_all) {
  if (xvid_ == nullptr || area.IsEmpty() || fps == 0) return false;
  const TileGrid grid(area.Width(), area.Height());
  if (area.Width() != last_area_.Width() || area.Height() != last_area_.Height()) Reset();
  if (area != last_area_) code_all = true;
  if (handles_.size() != static_cast<size_t>(grid.Count())) {
    Reset();
    for (int32_t i = 0; i < grid.Count(); ++i) {
      const Rect t = grid.Tile(i);
      xvid_enc_create_t create;
      std::memset(&create, 0, sizeof(create));
      create.version = kXvidVersion;
      create.profile = XVID_PROFILE_ARTS_L1;
      create.width = t.Width();
      create.height = t.Height();
      create.max_bframes = 0;
      create.global = 0;
      create.fincr = 1;
      create.fbase = static_cast<int>(fps);
      create.max_key_interval = static_cast<int>(60 * fps);
      create.frame_drop_ratio = 0;
      create.bquant_ratio = 150;
      create.bquant_offset = 100;
      if (xvid_->encore(nullptr, XVID_ENC_CREATE, &create, nullptr) < 0 || create.handle == nullptr) {
        Reset();
        return false;
      }
      handles_.push_back(create.handle);
    }
    code_all = true;
  }
  last_area_ = area;
  const std::vector<Rect> none;
  const std::vector<Rect>& compared = code_all ? none : dirty;
  for (int32_t i = 0; i < grid.Count(); ++i) {
    const Rect local = grid.Tile(i);
    const Rect tile{area.left + local.left, area.top + local.top, area.left + local.right, area.top + local.bottom};
    // Compare row runs against R1 until the first difference; from there on
    // copy every further run to R1 without comparing.
    bool changed = false;
    if (code_all) {
      const size_t run = static_cast<size_t>(tile.Width()) * 4;
      for (int32_t y = tile.top; y < tile.bottom; ++y) {
        std::memcpy(r1.data + static_cast<size_t>(y) * r1.stride + static_cast<size_t>(tile.left) * 4,
                    c.data + static_cast<size_t>(y) * c.stride + static_cast<size_t>(tile.left) * 4, run);
      }
      changed = true;
    }
    for (const Rect& d : compared) {
      const Rect part = Intersect(d, tile);
      if (part.IsEmpty()) continue;
      const size_t run = static_cast<size_t>(part.Width()) * 4;
      for (int32_t y = part.top; y < part.bottom; ++y) {
        const uint8_t* from = c.data + static_cast<size_t>(y) * c.stride + static_cast<size_t>(part.left) * 4;
        uint8_t* to = r1.data + static_cast<size_t>(y) * r1.stride + static_cast<size_t>(part.left) * 4;
        if (!changed && std::memcmp(from, to, run) == 0) continue;
        changed = true;
        std::memcpy(to, from, run);
      }
    }
    if (!changed) continue;
    // The library writes at most two bytes a pixel; the bitstream goes to a
    // buffer kept between frames and only its bytes join the packet.
    const size_t most = static_cast<size_t>(tile.Width()) * tile.Height() * 4 * 2;
    if (bitstream_.size() < most) bitstream_.resize(most);
    xvid_enc_frame_t frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.version = kXvidVersion;
    frame.vol_flags = XVID_VOL_MPEGQUANT;
    frame.input.csp = XVID_CSP_BGRA;
    frame.input.plane[0] = c.data + static_cast<size_t>(tile.top) * c.stride + static_cast<size_t>(tile.left) * 4;
    frame.input.stride[0] = c.stride;
    frame.type = XVID_TYPE_AUTO;
    frame.quant = 4;
    frame.bitstream = bitstream_.data();
    frame.length = -1;
    const int n = xvid_->encore(handles_[static_cast<size_t>(i)], XVID_ENC_ENCODE, &frame, nullptr);
    if (n <= 0 || static_cast<size_t>(n) > most) continue;  // a tile that gave no bytes is missing
    uint8_t header[8];
    Put16(header, static_cast<uint32_t>(i));
    Put16(header + 2, (frame.out_flags & XVID_KEYFRAME) != 0 ? 2 : 0);
    Put32(header + 4, static_cast<uint32_t>(n));
    packet->insert(packet->end(), header, header + 8);
    packet->insert(packet->end(), bitstream_.data(), bitstream_.data() + n);
  }
  return true;
}

}  // namespace kmr
