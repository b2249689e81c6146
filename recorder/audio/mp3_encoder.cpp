#include "recorder/audio/mp3_encoder.h"

#include <algorithm>
#include <new>

#include "shared/mul_div.h"
#include "shared/path_name.h"

namespace kmr {

namespace {

struct RateLimits {
  uint32_t rate, min_kbps, max_kbps;
};
constexpr RateLimits kLimits[6] = {{16000, 32, 160},  {22050, 48, 160},  {24000, 56, 160},
                                   {32000, 80, 256},  {44100, 112, 256}, {48000, 128, 256}};
constexpr uint32_t kMpeg1Rates[8] = {80, 96, 112, 128, 160, 192, 224, 256};
constexpr uint32_t kMpeg2Rates[11] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

void Put16(std::vector<uint8_t>* v, size_t at, uint32_t x) {
  (*v)[at] = static_cast<uint8_t>(x);
  (*v)[at + 1] = static_cast<uint8_t>(x >> 8);
}
void Put32(std::vector<uint8_t>* v, size_t at, uint32_t x) {
  Put16(v, at, x);
  Put16(v, at + 2, x >> 16);
}

}  // namespace

Mp3Encoder::Mp3Encoder() = default;

Mp3Encoder::~Mp3Encoder() {
  if (initialized_) Flush();  // the output is dropped with the encoder
  Unload();
}

bool Mp3Encoder::Load(const char* path) {
  Unload();
  const std::string file = platform::DynamicLibrary::FileName(kLibraryName);
  bool opened = false;
  if (path != nullptr) {
    opened = library_.Open(path);
  } else {
    PathName beside;
    std::string dir;
    if (beside.SetToModulePath() && beside.Directory(&dir, true)) opened = library_.Open(dir + file);
    if (!opened) opened = library_.Open(file);
  }
  if (!opened) {
    load_error_ = library_.Error();
    return false;
  }
  init_ = reinterpret_cast<KmrBeInitStream>(library_.Symbol("beInitStream"));
  encode_ = reinterpret_cast<KmrBeEncodeChunk>(library_.Symbol("beEncodeChunk"));
  deinit_ = reinterpret_cast<KmrBeDeinitStream>(library_.Symbol("beDeinitStream"));
  close_ = reinterpret_cast<KmrBeCloseStream>(library_.Symbol("beCloseStream"));
  // Never called, but a library without them is not the encoder library.
  const char* required[] = {"beInitStream", "beEncodeChunk", "beDeinitStream", "beCloseStream",
                            "beVersion",    "beWriteInfoTag", "beWriteVBRHeader"};
  for (const char* name : required) {
    if (library_.Symbol(name) == nullptr) {
      Unload();
      load_error_ = std::string("the encoder library has no entry point ") + name;
      return false;
    }
  }
  load_error_.clear();
  return true;
}

void Mp3Encoder::Unload() {
  init_ = nullptr;
  encode_ = nullptr;
  deinit_ = nullptr;
  close_ = nullptr;
  have_stream_ = false;
  initialized_ = false;
  library_.Close();
}

void Mp3Encoder::SetChannels(uint16_t n) { channels_ = n; }
void Mp3Encoder::SetSampleRate(uint32_t hz) { sample_rate_ = hz; }
void Mp3Encoder::SetFramesPerBlock(uint16_t n) { frames_per_block_ = n; }
void Mp3Encoder::SetQuality(int quality) { quality_ = std::clamp(quality, 0, 9); }

uint32_t Mp3Encoder::SnapRate(uint32_t hz) {
  uint32_t best = kRates[0];
  uint64_t best_distance = UINT64_MAX;
  for (uint32_t r : kRates) {
    const uint64_t d = r > hz ? r - hz : hz - r;
    if (d < best_distance) {
      best = r;
      best_distance = d;
    }
  }
  return best;
}

bool Mp3Encoder::Init() {
  if (init_ == nullptr) return false;
  if (have_stream_) {
    close_(stream_);  // a stream left from an Init without a Flush
    have_stream_ = false;
  }
  initialized_ = false;
  config_ = LameConfig{};
  if (channels_ == 2) {
    config_.mode = 0;
  } else if (channels_ == 1) {
    config_.mode = 3;
  } else {
    return false;
  }
  const uint32_t rate = SnapRate(sample_rate_);
  const RateLimits* limits = &kLimits[0];
  for (const RateLimits& l : kLimits) {
    if (l.rate == rate) limits = &l;
  }
  const bool mpeg1 = rate > 24000;
  const uint32_t* list = mpeg1 ? kMpeg1Rates : kMpeg2Rates;
  const int count = mpeg1 ? 8 : 11;
  const uint32_t q_rate = list[(count - 1) - MulDiv(quality_, count - 1, 9)];
  uint32_t lower = vbr_ ? limits->min_kbps : q_rate;
  uint32_t upper = q_rate;
  lower = std::clamp(lower, limits->min_kbps, limits->max_kbps);
  upper = std::clamp(upper, limits->min_kbps, limits->max_kbps);
  if (lower > upper) std::swap(lower, upper);
  for (int i = 0; i < count; ++i) {
    if (list[i] >= lower) {
      lower = list[i];
      break;
    }
  }
  for (int i = count - 1; i >= 0; --i) {
    if (list[i] <= upper) {
      upper = list[i];
      break;
    }
  }
  config_.sample_rate = rate;
  config_.mpeg_version = mpeg1 ? 1 : 0;
  config_.bit_rate = lower;
  config_.max_bit_rate = vbr_ && upper >= lower ? upper : lower;
  config_.preset = -1;
  config_.vbr_method = 0;
  config_.enable_vbr = vbr_ ? 1 : 0;
  config_.vbr_quality = 0;
  config_.no_bit_reservoir = 1;
  config_.quality_word = static_cast<uint16_t>((quality_ & 0xFF) | ((~quality_ & 0xFF) << 8));
  record_ = WriteLameConfig(config_);

  uint32_t samples = 0, bytes = 0;
  KmrBeStream stream = 0;
  if (init_(record_.data(), &samples, &bytes, &stream) != 0) return false;
  stream_ = stream;
  have_stream_ = true;
  samples_per_chunk_ = samples;
  bytes_per_chunk_ = bytes;
  avg_bytes_per_second_ =
      static_cast<uint32_t>(MulDiv(static_cast<int32_t>(config_.bit_rate + (config_.max_bit_rate - config_.bit_rate) / 2),
                                   1000, 8));
  // The library's sizes are bounded before the buffer is made.
  const uint64_t size = static_cast<uint64_t>(frames_per_block_) * bytes_per_chunk_;
  if (samples == 0 || size == 0 || size > (64u << 20)) {
    close_(stream_);
    have_stream_ = false;
    return false;
  }
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    close_(stream_);
    have_stream_ = false;
    return false;
  }
  output_.swap(buffer);
  output_bytes_ = 0;
  initialized_ = true;
  return true;
}

bool Mp3Encoder::EncodeBlock(const void* pcm) {
  if (encode_ == nullptr || !have_stream_ || samples_per_chunk_ == 0 || pcm == nullptr || output_.empty() ||
      !initialized_) {
    return false;
  }
  output_bytes_ = 0;
  const auto* samples = static_cast<const int16_t*>(pcm);
  for (uint32_t i = 0; i < frames_per_block_; ++i) {
    uint32_t bytes = 0;
    encode_(stream_, samples_per_chunk_, samples + static_cast<size_t>(i) * samples_per_chunk_,
            output_.data() + output_bytes_, &bytes);
    // A library that says it wrote more than a chunk's room is not believed.
    output_bytes_ += std::min(bytes, bytes_per_chunk_);
  }
  return true;
}

void Mp3Encoder::Flush() {
  if (!initialized_) return;
  output_bytes_ = 0;
  uint32_t bytes = 0;
  if (deinit_(stream_, output_.data(), &bytes) == 0) output_bytes_ = std::min<uint32_t>(bytes, output_.size());
  close_(stream_);
  have_stream_ = false;
  initialized_ = false;
}

std::vector<uint8_t> Mp3Encoder::WaveFormat() const {
  std::vector<uint8_t> f(30, 0);
  Put16(&f, 0, 0x55);
  Put16(&f, 2, channels_);
  Put32(&f, 4, sample_rate_);
  Put32(&f, 8, avg_bytes_per_second_);
  Put16(&f, 12, 1);
  Put16(&f, 14, 0);
  Put16(&f, 16, 12);
  Put16(&f, 18, 1);
  Put32(&f, 20, 2);
  Put16(&f, 24, static_cast<uint32_t>(frames_per_block_) * bytes_per_chunk_);
  Put16(&f, 26, frames_per_block_);
  Put16(&f, 28, 0);
  return f;
}

}  // namespace kmr
