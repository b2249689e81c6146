#include "player/audio/linux/mpg123_decoder.h"

#include <mpg123.h>

namespace kmr {

bool Mpg123Decoder::Open(uint32_t samples_per_second, uint16_t channels, const std::vector<uint8_t>&) {
  Close();
#if MPG123_API_VERSION < 46
  mpg123_init();
#endif
  int error = 0;
  handle_ = mpg123_new(nullptr, &error);
  if (handle_ == nullptr) return false;
  mpg123_param(handle_, MPG123_FLAGS, MPG123_QUIET, 0.0);
  // Always the stream's own channel count at its rate, 16 bits: a frame
  // of the other kind is converted, not played at the wrong speed.
  mpg123_format_none(handle_);
  if (mpg123_format(handle_, static_cast<long>(samples_per_second), channels == 1 ? MPG123_MONO : MPG123_STEREO,
                    MPG123_ENC_SIGNED_16) != MPG123_OK ||
      mpg123_open_feed(handle_) != MPG123_OK) {
    Close();
    return false;
  }
  channels_ = channels;
  return true;
}

int Mpg123Decoder::Decode(const uint8_t* data, uint32_t size, int16_t* left, int16_t* right, uint32_t capacity) {
  if (handle_ == nullptr || capacity == 0) return -1;
  pcm_.resize(static_cast<size_t>(capacity) * channels_);
  size_t done = 0;
  int rc = mpg123_decode(handle_, data, data != nullptr ? size : 0, reinterpret_cast<unsigned char*>(pcm_.data()),
                         pcm_.size() * sizeof(int16_t), &done);
  // The first frame announces the format; its samples follow at once.
  while (rc == MPG123_NEW_FORMAT && done == 0) {
    rc = mpg123_decode(handle_, nullptr, 0, reinterpret_cast<unsigned char*>(pcm_.data()),
                       pcm_.size() * sizeof(int16_t), &done);
  }
  if (rc == MPG123_ERR) return -1;
  const size_t frames = done / sizeof(int16_t) / channels_;
  for (size_t i = 0; i < frames; ++i) {
    left[i] = pcm_[i * channels_];
    if (channels_ == 2) right[i] = pcm_[i * 2 + 1];
  }
  return static_cast<int>(frames);
}

void Mpg123Decoder::Close() {
  if (handle_ != nullptr) mpg123_delete(handle_);
  handle_ = nullptr;
}

}  // namespace kmr
