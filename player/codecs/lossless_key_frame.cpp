#include "player/codecs/lossless_key_frame.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "shared/codec/row_command.h"
#include "shared/container/container_format.h"

namespace kmr {

namespace {

// The largest key frame the recorder makes: its biggest picture at 4 bytes
// per pixel and a record per row.
constexpr size_t kMaxKeyFrameBytes =
    static_cast<size_t>(kMaxFramePixels) * 4 + static_cast<size_t>(kMaxFrameSide) * kRowCommandSize;

bool InflateBounded(const uint8_t* packet, size_t length, std::vector<uint8_t>* out) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(packet);
  zs.avail_in = static_cast<uInt>(length);
  // Room doubles from a small start: most packets are small.
  size_t step = 1 << 16;
  out->clear();
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    const size_t used = out->size();
    if (used >= kMaxKeyFrameBytes) break;
    out->resize(used + step);
    zs.next_out = out->data() + used;
    zs.avail_out = static_cast<uInt>(step);
    rc = inflate(&zs, Z_NO_FLUSH);
    out->resize(used + step - zs.avail_out);
    step = std::min<size_t>(step * 2, 1 << 24);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    if (rc == Z_OK && zs.avail_out != 0 && zs.avail_in == 0) break;  // cut short
  }
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

// Whether the payload is rows 0, 1, … of key rows width pixels wide with
// bytes_per_pixel bytes each, filling it exactly.
bool WalksAsKeyRows(const std::vector<uint8_t>& payload, int32_t width, uint32_t bytes_per_pixel,
                    int32_t* height) {
  const size_t step = kRowCommandSize + static_cast<size_t>(width) * bytes_per_pixel;
  if (payload.size() % step != 0) return false;
  const size_t rows = payload.size() / step;
  if (rows == 0 || rows >= static_cast<size_t>(kMaxCodecDimension)) return false;
  for (size_t y = 0; y < rows; ++y) {
    const RowCommand c = RowCommand::Load(&payload[y * step]);
    if (c.dst_x != 0 || c.dst_y != static_cast<int16_t>(y) || c.width != width || c.source != kSourceData ||
        c.mask != (kUpdateR1 | kUpdateR2 | kUpdateR3)) {
      return false;
    }
  }
  *height = static_cast<int32_t>(rows);
  return true;
}

}  // namespace

bool LosslessKeyFrameGeometry(const uint8_t* packet, size_t length, KeyFrameGeometry* out) {
  std::vector<uint8_t> payload;
  if (length == 0 || !InflateBounded(packet, length, &payload)) return false;
  if (payload.size() < kRowCommandSize) return false;
  const RowCommand first = RowCommand::Load(payload.data());
  if (first.width <= 0 || first.width > kMaxFrameSide) return false;
  for (uint32_t bpp : {4u, 3u, 2u, 1u}) {
    int32_t height = 0;
    if (WalksAsKeyRows(payload, first.width, bpp, &height)) {
      if (static_cast<uint64_t>(first.width) * static_cast<uint64_t>(height) > kMaxFramePixels) return false;
      *out = KeyFrameGeometry{first.width, height, bpp};
      return true;
    }
  }
  return false;
}

}  // namespace kmr
