#include "player/codecs/frame_decoder.h"

#include "player/codecs/lossless_frame_decoder.h"
#include "player/codecs/lossy/lossy_frame_decoder.h"
#include "shared/container/container_format.h"
#include "shared/container/own_codec_info.h"

namespace kmr {

namespace {

template <class Decoder>
std::unique_ptr<FrameDecoder> Make() {
  return std::make_unique<Decoder>();
}

// The decoder of each own codec, by its descriptor's FOURCC.
struct DecoderRow {
  uint32_t fourcc;
  std::unique_ptr<FrameDecoder> (*make)();
};
constexpr DecoderRow kDecoders[] = {
    {kFourCcLossless, Make<LosslessFrameDecoder>},
    {kFourCcLossy, Make<LossyFrameDecoder>},
};

const DecoderRow* RowOf(uint32_t fourcc) {
  for (const DecoderRow& row : kDecoders) {
    if (row.fourcc == fourcc) return &row;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<FrameDecoder> MakeFrameDecoder(uint32_t compression, std::string* error) {
  const OwnCodecInfo* codec = FindOwnCodecInfo(compression);
  const DecoderRow* row = codec != nullptr ? RowOf(codec->fourcc) : nullptr;
  if (row == nullptr) {
    *error = "not a screen video format";
    return nullptr;
  }
  std::unique_ptr<FrameDecoder> decoder = row->make();
  if (!decoder->Ready()) {
    *error = std::string(codec->option) + " screen video cannot be played here: " + decoder->Error();
    return nullptr;
  }
  return decoder;
}

bool HasFrameDecoder(const OwnCodecInfo& codec) { return RowOf(codec.fourcc) != nullptr; }

}  // namespace kmr
