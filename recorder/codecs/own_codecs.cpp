#include "recorder/codecs/own_codecs.h"

#include "recorder/codecs/lossless_frame_encoder.h"
#include "recorder/codecs/lossy/lossy_frame_encoder.h"
#include "shared/container/container_format.h"
#include "shared/container/own_codec_info.h"

namespace kmr {

const std::vector<OwnCodec>& OwnCodecs() {
  static const std::vector<OwnCodec> codecs = {
      {FindOwnCodecInfo(kFourCcLossless)->option, FindOwnCodecInfo(kFourCcLossless)->name,
       [](platform::DesktopState* desktop) -> std::unique_ptr<FrameEncoder> {
         return std::make_unique<LosslessFrameEncoder>(desktop);
       },
       true, [](std::string*) { return true; }},
      {FindOwnCodecInfo(kFourCcLossy)->option, FindOwnCodecInfo(kFourCcLossy)->name,
       [](platform::DesktopState*) -> std::unique_ptr<FrameEncoder> { return std::make_unique<LossyFrameEncoder>(); },
       false, LossyCodecAvailable},
  };
  return codecs;
}

const OwnCodec* FindOwnCodec(std::string_view option) {
  for (const OwnCodec& c : OwnCodecs()) {
    if (option == c.option) return &c;
  }
  return nullptr;
}

std::string OwnCodecOptions() {
  std::string out;
  for (const OwnCodec& c : OwnCodecs()) {
    if (!out.empty()) out += ", ";
    out += c.option;
  }
  return out;
}

}  // namespace kmr
