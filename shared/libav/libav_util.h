// Small helpers around libav's error codes and log.
#pragma once

#include <cstdint>
#include <string>

namespace kmr {

// libavcodec's codec id (an AVCodecID) of a bitmap compression code or a
// wave format tag; 0 (none) for codes it does not know, as the own codecs.
int RiffVideoCodec(uint32_t fourcc);
int RiffAudioCodec(uint32_t format_tag);

// libav's sentence for an error code ("No space left on device").
std::string LibavError(int code);
// Warnings about codes the muxers do not know (the own codecs) stay quiet;
// errors are reported by the callers.
void QuietLibavLog();

}  // namespace kmr
