#include "recorder/audio/sound_mixer.h"

#include <algorithm>
#include <cmath>

namespace kmr {

class SoundMixer::Input : public PacketSink {
 public:
  Input(SoundMixer* mixer, size_t index) : mixer_(mixer), index_(index) {}
  bool Put(const MediaPacket& p) override { return mixer_->Take(index_, p.data, p.size, p.time_stamp); }
  MediaWriter* GetWriter() const override { return mixer_->Writer(); }

 private:
  SoundMixer* mixer_;
  size_t index_;
};

SoundMixer::SoundMixer(const PcmFormat& format, uint32_t block_bytes)
    : format_(format),
      block_bytes_(block_bytes),
      block_frames_(block_bytes / std::max<uint32_t>(format.BlockAlign(), 1)),
      channels_(std::max<uint16_t>(format.channels, 1)) {}

SoundMixer::~SoundMixer() = default;

PacketSink* SoundMixer::AddInput(uint32_t gain_percent) {
  platform::MutexLock lock(mu_);
  inputs_.push_back(std::make_unique<Input>(this, inputs_.size()));
  sources_.emplace_back();
  sources_.back().gain = std::min(gain_percent, kMaxGain);
  return inputs_.back().get();
}

void SoundMixer::SetOutput(PacketSink* output) {
  platform::MutexLock lock(mu_);
  output_ = output;
}

MediaWriter* SoundMixer::Writer() const {
  platform::MutexLock lock(mu_);
  return output_ != nullptr ? output_->GetWriter() : nullptr;
}

int64_t SoundMixer::FramesAt(uint32_t ms) const {
  return static_cast<int64_t>(std::llround(static_cast<double>(ms) * format_.samples_per_second / 1000.0));
}

uint64_t SoundMixer::BlocksOut() const {
  platform::MutexLock lock(mu_);
  return blocks_out_;
}

bool SoundMixer::Take(size_t index, const void* data, uint32_t size, uint32_t time_stamp) {
  platform::MutexLock lock(mu_);
  if (index >= sources_.size() || data == nullptr || block_frames_ == 0) return false;
  Source& s = sources_[index];
  if (!s.begun) {
    // The first block's stamp places the source; the rest follow it.
    s.begun = true;
    s.arriving = FramesAt(time_stamp);
    s.first = s.arriving;
    if (!begun_) {
      begun_ = true;
      next_ = s.arriving;
    }
  }
  if (s.samples.empty()) s.first = s.arriving;
  const auto* pcm = static_cast<const uint8_t*>(data);
  const size_t samples = size / 2;
  for (size_t i = 0; i < samples; ++i) s.samples.push_back(static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
  s.arriving += static_cast<int64_t>(samples / channels_);
  // Samples for places already mixed (the source was late) are left out.
  if (s.first < next_) {
    const auto drop = static_cast<size_t>(std::min<int64_t>(next_ - s.first, static_cast<int64_t>(s.samples.size() / channels_)));
    s.samples.erase(s.samples.begin(), s.samples.begin() + static_cast<std::ptrdiff_t>(drop * channels_));
    s.first += static_cast<int64_t>(drop);
  }
  return MixReady(false);
}

bool SoundMixer::MixReady(bool all) {
  if (!begun_ || output_ == nullptr) return true;
  const int64_t wait_limit = FramesAt(kMaxWaitMs);
  bool ok = true;
  for (;;) {
    const int64_t end = next_ + block_frames_;
    // Ready when every source has sound up to the block's end, or one of
    // them is a second ahead of it (the others are late: silence).
    bool covered = true;
    int64_t furthest = next_;
    bool any = false;
    for (const Source& s : sources_) {
      const int64_t has = s.first + static_cast<int64_t>(s.samples.size() / channels_);
      if (s.begun) furthest = std::max(furthest, has);
      if (!s.begun || has < end) covered = false;
      if (s.begun && has > next_) any = true;
    }
    if (!covered && !(furthest >= end + wait_limit) && !(all && any)) return ok;
    mix_.assign(static_cast<size_t>(block_frames_) * channels_, 0);
    for (Source& s : sources_) {
      if (!s.begun) continue;
      const double gain = s.gain / 100.0;
      for (size_t f = 0; f < block_frames_; ++f) {
        const int64_t place = next_ + static_cast<int64_t>(f);
        if (place < s.first) continue;
        const size_t i = static_cast<size_t>(place - s.first);
        if (i >= s.samples.size() / channels_) break;
        for (uint16_t c = 0; c < channels_; ++c) {
          const double v = mix_[f * channels_ + c] + gain * s.samples[i * channels_ + c];
          mix_[f * channels_ + c] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
      }
      // What was mixed goes.
      const int64_t used = std::min<int64_t>(std::max<int64_t>(end - s.first, 0),
                                             static_cast<int64_t>(s.samples.size() / channels_));
      s.samples.erase(s.samples.begin(), s.samples.begin() + static_cast<std::ptrdiff_t>(used * channels_));
      s.first += used;
      if (s.samples.empty()) s.first = s.arriving;  // a late source's missing part was silence
    }
    std::vector<uint8_t> bytes(block_bytes_);
    for (size_t i = 0; i < mix_.size() && 2 * i + 1 < bytes.size(); ++i) {
      bytes[2 * i] = static_cast<uint8_t>(mix_[i]);
      bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(mix_[i]) >> 8);
    }
    const auto time_ms = static_cast<uint32_t>(std::llround(next_ * 1000.0 / format_.samples_per_second));
    const auto end_ms = static_cast<uint32_t>(std::llround(end * 1000.0 / format_.samples_per_second));
    MediaPacket block;
    block.data = bytes.data();
    block.size = block_bytes_;
    block.time_stamp = time_ms;
    block.duration = end_ms - time_ms;
    if (!output_->Put(block)) ok = false;
    next_ = end;
    ++blocks_out_;
  }
}

void SoundMixer::Finish() {
  platform::MutexLock lock(mu_);
  MixReady(true);
}

}  // namespace kmr
