#include "tools/kmrtool/mp3_frames.h"

#include <cstdio>

#include "shared/container/container_format.h"

namespace kmr {

namespace {

struct Header {
  uint32_t size = 0, rate = 0, samples = 0, bit_rate = 0;
  uint16_t channels = 0;
};

// An MPEG audio layer III frame header at p (4 bytes readable).
bool ReadHeader(const uint8_t* p, Header* h) {
  static constexpr int kRates1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr int kRates2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static constexpr uint32_t kHz[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || ((p[1] >> 1) & 3) != 1) return false;
  const int version = (p[1] >> 3) & 3;
  const int rate_index = p[2] >> 4, hz_index = (p[2] >> 2) & 3;
  if (version == 1 || rate_index == 0 || rate_index == 15 || hz_index == 3) return false;
  const bool mpeg1 = version == 3;
  h->bit_rate = static_cast<uint32_t>((mpeg1 ? kRates1 : kRates2)[rate_index]) * 1000;
  h->rate = kHz[mpeg1 ? 0 : version == 2 ? 1 : 2][hz_index];
  h->samples = mpeg1 ? 1152 : 576;
  h->size = (mpeg1 ? 144 : 72) * h->bit_rate / h->rate + ((p[2] >> 1) & 1);
  h->channels = (p[3] >> 6) == 3 ? 1 : 2;
  return true;
}

}  // namespace

bool Mp3Frames::Load(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return *error = "cannot open " + path, false;
  std::vector<uint8_t> file;
  uint8_t chunk[65536];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
    if (file.size() + n > kMaxFileBytes) {
      std::fclose(f);
      return *error = path + " is larger than a recording's sound can be", false;
    }
    file.insert(file.end(), chunk, chunk + n);
  }
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return *error = "cannot read " + path, false;
  return Parse(file, error);
}

bool Mp3Frames::Parse(const std::vector<uint8_t>& file, std::string* error) {
  frames_.clear();
  bytes_ = file;
  size_t at = 0;
  // An ID3v2 tag: "ID3", version, flags, then a 28-bit size in 7-bit bytes.
  if (bytes_.size() >= 10 && bytes_[0] == 'I' && bytes_[1] == 'D' && bytes_[2] == '3') {
    at = 10 + ((bytes_[6] & 0x7Fu) << 21 | (bytes_[7] & 0x7Fu) << 14 | (bytes_[8] & 0x7Fu) << 7 | (bytes_[9] & 0x7Fu));
  }
  uint64_t samples = 0;
  while (at + 4 <= bytes_.size()) {
    Header h;
    if (!ReadHeader(&bytes_[at], &h)) {
      if (!frames_.empty() && bytes_[at] == 'T' && at + 128 == bytes_.size()) break;  // an ID3v1 tag
      return *error = "no MP3 frame at byte " + std::to_string(at), false;
    }
    if (frames_.empty()) {
      rate_ = h.rate;
      channels_ = h.channels;
      bit_rate_ = h.bit_rate;
    } else if (h.rate != rate_ || h.channels != channels_) {
      return *error = "the frame at byte " + std::to_string(at) + " changes the rate or the channels", false;
    }
    if (at + h.size > bytes_.size()) break;  // a cut-off last frame
    const auto time = static_cast<uint32_t>(samples * 1000 / rate_);
    samples += h.samples;
    const auto end = static_cast<uint32_t>(samples * 1000 / rate_);
    frames_.push_back(Frame{static_cast<uint32_t>(at), h.size, time, end - time});
    at += h.size;
  }
  if (frames_.empty()) return *error = "no MP3 frames", false;
  return true;
}

std::vector<uint8_t> Mp3Frames::WaveFormat() const {
  WaveFormatMp3 w;
  w.channels = channels_;
  w.samples_per_sec = rate_;
  w.avg_bytes_per_sec = bit_rate_ / 8;
  w.block_align = 1;
  w.flags = 2;
  w.block_size = frames_.empty() ? 0 : static_cast<uint16_t>(frames_.front().size);
  w.frames_per_block = 1;
  return w.Serialize();
}

}  // namespace kmr
