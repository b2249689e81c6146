// libFuzzer target: any bytes as a lossy packet for the player's decoder.
// The first input byte picks the frame (one tile, 2 × 2 tiles with short last
// ones, or 3 × 1); the rest is the packet, decoded twice so that the tile
// decoders made by the first call are reused.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/codecs/screen_video_decoder.h"
#include "shared/byte_io.h"
#include "shared/container/container_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int32_t kSizes[4][2] = {{256, 192}, {402, 302}, {768, 192}, {128, 96}};
  const int32_t* wh = kSizes[data[0] & 3];
  kmr::BitmapInfoHeader b;
  b.width = wh[0];
  b.height = -wh[1];
  b.bit_count = 32;
  b.compression = kmr::kFourCcLossy;
  std::vector<uint8_t> format;
  kmr::ByteWriter w(&format);
  b.Write(w);
  kmr::ScreenVideoDecoder decoder;
  decoder.SetDisplayFormat(kmr::PixelFormat{(data[0] & 4) != 0 ? 16u : 32u, false});
  if (!decoder.SetFormat(format.data(), format.size())) return 0;
  decoder.Decode(data + 1, size - 1);
  decoder.Decode(data + 1, size - 1);
  return 0;
}
