#include "shared/libav/libav_util.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace kmr {

std::string LibavError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

int RiffVideoCodec(uint32_t fourcc) {
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  return av_codec_get_id(tables, fourcc);
}

int RiffAudioCodec(uint32_t format_tag) {
  const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
  return av_codec_get_id(tables, format_tag);
}

void QuietLibavLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace kmr
