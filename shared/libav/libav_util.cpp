#include "shared/libav/libav_util.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace kmr {

std::string LibavError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

void QuietLibavLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace kmr
