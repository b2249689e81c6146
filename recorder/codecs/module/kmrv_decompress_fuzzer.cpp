// The codec module's decompression over any bytes: the first two bytes
// give a small picture size, the rest are packets cut at 0xFE 0xFE.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recorder/codecs/module/kmrv_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  kmr::BitmapInfoHeader coded;
  coded.width = 1 + data[0] % 64;
  coded.height = 1 + data[1] % 64;
  coded.bit_count = 32;
  coded.compression = kmr::kFourCcLossless;
  kmr::KmrvCodec codec(kmr::kFourCcLossless);
  if (!codec.BeginDecompress(coded, kmr::KmrvCodec::DecompressedFormat(coded))) return 0;
  std::vector<uint8_t> picture(kmr::KmrvCodec::DecompressedFormat(coded).size_image);
  size_t at = 2;
  while (at < size) {
    size_t end = at;
    while (end + 1 < size && !(data[end] == 0xFE && data[end + 1] == 0xFE)) ++end;
    if (end + 1 >= size) end = size;
    std::vector<uint8_t> packet(data + at, data + end);  // its own buffer: reads past it are caught
    if (!codec.Decompress(packet.data(), static_cast<uint32_t>(packet.size()), picture.data(),
                          static_cast<uint32_t>(picture.size()))) {
      break;
    }
    at = end + 2;
  }
  return 0;
}
