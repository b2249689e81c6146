// The own codecs as installable compressors ("KMRV" lossless, "kmrv" lossy
// where the xvidcore library is present): the codec module's work without
// the system's message layer, so that it is tested and fuzzed here. Frames are 32-bit uncompressed bitmaps (bottom-up for a
// positive height, as compressors get them); the decompression is as strict
// with damaged input as the player's decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/codecs/frame_decoder.h"
#include "shared/container/container_format.h"

namespace kmr {

class OfflineSource;

class KmrvCodec {
 public:
  // code: kFourCcLossless or kFourCcLossy.
  explicit KmrvCodec(uint32_t code = kFourCcLossless);
  ~KmrvCodec();

  // Whether the codec of a handler code works here (*why says what is
  // missing); false for codes that are not the own codecs'.
  static bool Available(uint32_t code, std::string* why);
  uint32_t Code() const { return code_; }

  // 32-bit uncompressed frames of a size a recording can have (even sides
  // for the lossy codec).
  bool AcceptsInput(const BitmapInfoHeader& in) const;
  // This codec's frames of a size a recording can have, at 32 bits.
  bool AcceptsCompressed(const BitmapInfoHeader& in) const;
  BitmapInfoHeader CompressedFormat(const BitmapInfoHeader& in) const;
  // Bottom-up 32-bit frames of the compressed format's size.
  static BitmapInfoHeader DecompressedFormat(const BitmapInfoHeader& compressed);
  static uint32_t MaxCompressedSize(const BitmapInfoHeader& in);

  bool BeginCompress(const BitmapInfoHeader& in, std::string* error);
  // One frame: key when asked for (the first always is). *size 0: nothing
  // changed since the frame before.
  bool Compress(const uint8_t* bits, bool key_requested, uint8_t* out, uint32_t capacity, uint32_t* size,
                bool* key);
  void EndCompress();
  bool Compressing() const { return encoder_ != nullptr; }

  bool BeginDecompress(const BitmapInfoHeader& compressed, const BitmapInfoHeader& out);
  // Applies one packet (0 bytes: nothing changed) and writes the picture in
  // the output format. False, with the picture untouched past the damage,
  // for a packet that cannot be decoded.
  bool Decompress(const uint8_t* data, uint32_t size, uint8_t* out, uint32_t out_capacity);
  void EndDecompress();
  const std::string& Error() const { return error_; }

 private:
  uint32_t code_;
  BitmapInfoHeader in_, out_;
  std::unique_ptr<OfflineSource> encoder_;
  std::vector<uint8_t> top_down_;
  bool first_ = true;
  std::unique_ptr<FrameDecoder> decoder_;
  std::string error_;
};

}  // namespace kmr
