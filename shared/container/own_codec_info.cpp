#include "shared/container/own_codec_info.h"

#include "shared/container/container_format.h"

namespace kmr {

namespace {

constexpr OwnCodecInfo kOwnCodecs[] = {
    {kFourCcLossless, "lossless", "Norvane Screen Video (Lossless)", u"Norvane Screen Video (Lossless)", u"KMRV",
     false, true},
    {kFourCcLossy, "lossy", "Norvane Screen Video (Lossy)", u"Norvane Screen Video (Lossy)", u"kmrv", true, false},
};

}  // namespace

const OwnCodecInfo* OwnCodecInfos(uint32_t* count) {
  *count = static_cast<uint32_t>(sizeof(kOwnCodecs) / sizeof(kOwnCodecs[0]));
  return kOwnCodecs;
}

const OwnCodecInfo* FindOwnCodecInfo(uint32_t fourcc) {
  for (const OwnCodecInfo& c : kOwnCodecs) {
    if (c.fourcc == fourcc) return &c;
  }
  return nullptr;
}

}  // namespace kmr
