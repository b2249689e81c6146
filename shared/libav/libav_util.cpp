#include "shared/libav/libav_util.h"

#include <algorithm>

#include "shared/byte_io.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
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

bool VideoParametersFromBitmap(const std::vector<uint8_t>& bitmap, AVCodecParameters* par, std::string* error) {
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_tag = LeAt(bitmap, 16);
  par->codec_id = static_cast<AVCodecID>(RiffVideoCodec(par->codec_tag));
  par->width = static_cast<int32_t>(LeAt(bitmap, 4));
  const auto height = static_cast<int32_t>(LeAt(bitmap, 8));
  par->height = height < 0 ? -height : height;
  par->bits_per_coded_sample = static_cast<int>(LeAt(bitmap, 14, 2));
  if (bitmap.size() < 40 || par->width <= 0 || par->height <= 0) {
    *error = "a video stream without a picture size";
    return false;
  }
  // The colour data or codec data after the bitmap header.
  if (bitmap.size() > 40) {
    const size_t n = bitmap.size() - 40;
    par->extradata = static_cast<uint8_t*>(av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) {
      *error = "out of memory for a stream format";
      return false;
    }
    std::copy(bitmap.begin() + 40, bitmap.end(), par->extradata);
    par->extradata_size = static_cast<int>(n);
  }
  // Codes libav knows are the muxers' to choose; the own codecs keep theirs.
  if (par->codec_id != AV_CODEC_ID_NONE) par->codec_tag = 0;
  return true;
}

bool AudioParametersFromWave(const std::vector<uint8_t>& wave, AVCodecParameters* par, std::string* error) {
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_tag = LeAt(wave, 0, 2);
  par->codec_id = static_cast<AVCodecID>(RiffAudioCodec(par->codec_tag));
  av_channel_layout_default(&par->ch_layout, static_cast<int>(std::max<uint32_t>(LeAt(wave, 2, 2), 1)));
  par->sample_rate = static_cast<int>(LeAt(wave, 4));
  par->bit_rate = static_cast<int64_t>(LeAt(wave, 8)) * 8;
  par->block_align = static_cast<int>(LeAt(wave, 12, 2));
  if (wave.size() < 16 || par->sample_rate <= 0) {
    *error = "a sound stream without a sample rate";
    return false;
  }
  return true;
}

void QuietLibavLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace kmr
