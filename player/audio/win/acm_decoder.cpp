#include "player/audio/win/acm_decoder.h"

#include <cstring>

namespace kmr {

bool AcmMp3Decoder::Open(uint32_t samples_per_second, uint16_t channels, const std::vector<uint8_t>& wave_format) {
  Close();
  if (wave_format.size() < 30) return false;
  // The stream's format block is the MP3 wave format record itself.
  std::vector<uint8_t> source(wave_format.begin(), wave_format.begin() + 30);
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = channels;
  pcm.nSamplesPerSec = samples_per_second;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<WORD>(channels * 2);
  pcm.nAvgBytesPerSec = samples_per_second * pcm.nBlockAlign;
  if (acmStreamOpen(&stream_, nullptr, reinterpret_cast<WAVEFORMATEX*>(source.data()), &pcm, nullptr, 0, 0,
                    ACM_STREAMOPENF_NONREALTIME) != 0) {
    stream_ = nullptr;
    return false;
  }
  channels_ = channels;
  return true;
}

// Runs the codec over the input it holds; what it decodes is kept pending.
bool AcmMp3Decoder::Convert() {
  if (input_.empty()) return true;
  DWORD out_size = 0;
  if (acmStreamSize(stream_, static_cast<DWORD>(input_.size()), &out_size, ACM_STREAMSIZEF_SOURCE) != 0 ||
      out_size == 0) {
    out_size = static_cast<DWORD>(input_.size()) * 48;  // MP3 at its smallest is about 1:48 of PCM
  }
  output_.resize(out_size);
  ACMSTREAMHEADER h{};
  h.cbStruct = sizeof(h);
  h.pbSrc = input_.data();
  h.cbSrcLength = static_cast<DWORD>(input_.size());
  h.pbDst = output_.data();
  h.cbDstLength = static_cast<DWORD>(output_.size());
  if (acmStreamPrepareHeader(stream_, &h, 0) != 0) return false;
  const MMRESULT rc = acmStreamConvert(stream_, &h, ACM_STREAMCONVERTF_BLOCKALIGN);
  const DWORD used = h.cbSrcLengthUsed, made = h.cbDstLengthUsed;
  acmStreamUnprepareHeader(stream_, &h, 0);
  if (rc != 0) return false;
  input_.erase(input_.begin(), input_.begin() + (used < input_.size() ? used : input_.size()));
  const size_t samples = made / 2;
  const size_t at = pending_.size();
  pending_.resize(at + samples);
  std::memcpy(pending_.data() + at, output_.data(), samples * 2);
  return true;
}

int AcmMp3Decoder::Decode(const uint8_t* data, uint32_t size, int16_t* left, int16_t* right, uint32_t capacity) {
  if (stream_ == nullptr || capacity == 0) return -1;
  if (data != nullptr && size != 0) {
    input_.insert(input_.end(), data, data + size);
    if (!Convert()) return -1;
  }
  const size_t frames_ready = pending_.size() / channels_;
  const size_t frames = frames_ready < capacity ? frames_ready : capacity;
  for (size_t i = 0; i < frames; ++i) {
    left[i] = pending_[i * channels_];
    if (channels_ == 2) right[i] = pending_[i * 2 + 1];
  }
  pending_.erase(pending_.begin(), pending_.begin() + frames * channels_);
  return static_cast<int>(frames);
}

void AcmMp3Decoder::Close() {
  if (stream_ != nullptr) acmStreamClose(stream_, 0);
  stream_ = nullptr;
  input_.clear();
  pending_.clear();
}

}  // namespace kmr
