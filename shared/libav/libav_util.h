// Small helpers around libav's error codes and log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVCodecParameters;

namespace kmr {

// libavcodec's codec id (an AVCodecID) of a bitmap compression code or a
// wave format tag; 0 (none) for codes it does not know, as the own codecs.
int RiffVideoCodec(uint32_t fourcc);
int RiffAudioCodec(uint32_t format_tag);

// Codec parameters of a video stream from its bitmap info header (40 bytes;
// what follows is the codec's data) or of a sound stream from its wave
// format. The codec is looked up by its code; codes libav does not know (the
// own codecs) are kept as the stream's tag. False with *error for a picture
// without a size or sound without a rate.
bool VideoParametersFromBitmap(const std::vector<uint8_t>& bitmap, AVCodecParameters* par, std::string* error);
bool AudioParametersFromWave(const std::vector<uint8_t>& wave, AVCodecParameters* par, std::string* error);

// libav's sentence for an error code ("No space left on device").
std::string LibavError(int code);
// Warnings about codes the muxers do not know (the own codecs) stay quiet;
// errors are reported by the callers.
void QuietLibavLog();

}  // namespace kmr
