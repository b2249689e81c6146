// libFuzzer target: any bytes as a lossless packet for a small frame. The
// first input byte picks the depth; the rest is the packet (compressed, so
// the fuzzer also reaches the command walk through valid zlib streams). The
// same packet goes to the reader of a key frame's picture, which other
// programs' demuxers rely on.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/codecs/lossless_decoder.h"
#include "player/codecs/lossless_key_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t bpp = 1 + (data[0] & 3);
  const bool raw = (data[0] & 4) != 0;
  kmr::LosslessDecoder decoder;
  if (!decoder.SetFormat(37, 23, bpp, 0)) return 0;
  kmr::KeyFrameGeometry geometry;
  if (raw) {
    decoder.Decode(data + 1, size - 1);
    kmr::LosslessKeyFrameGeometry(data + 1, size - 1, &geometry);
    return 0;
  }
  // Treat the input as the uncompressed command list.
  uLongf n = compressBound(static_cast<uLong>(size - 1));
  std::vector<uint8_t> packet(n);
  if (compress(packet.data(), &n, data + 1, static_cast<uLong>(size - 1)) != Z_OK) return 0;
  decoder.Decode(packet.data(), n);
  decoder.Decode(packet.data(), n);
  kmr::LosslessKeyFrameGeometry(packet.data(), n, &geometry);
  return 0;
}
