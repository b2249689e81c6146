// Small helpers around libav's error codes and log.
#pragma once

#include <string>

namespace kmr {

// libav's sentence for an error code ("No space left on device").
std::string LibavError(int code);
// Warnings about codes the muxers do not know (the own codecs) stay quiet;
// errors are reported by the callers.
void QuietLibavLog();

}  // namespace kmr
