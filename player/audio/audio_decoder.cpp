#include "player/audio/audio_decoder.h"

#include <algorithm>
#include <new>

namespace kmr {

namespace {
uint32_t U32(const std::vector<uint8_t>& f, size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<uint32_t>(f[at + 3]) << 24;
}
uint16_t U16(const std::vector<uint8_t>& f, size_t at) { return static_cast<uint16_t>(f[at] | f[at + 1] << 8); }
}  // namespace

AudioDecoder::AudioDecoder(Mp3Decoder* decoder, SoundOutput* output, platform::MsClock* clock,
                           std::unique_ptr<platform::FrameTimer> timer)
    : StreamDecoder(kQueuePackets, clock, std::move(timer)), decoder_(decoder), output_(output) {}

AudioDecoder::~AudioDecoder() {
  Stop();
  output_->Close();
  decoder_->Close();
}

bool AudioDecoder::Accept(const StreamHeader& header) {
  return header.major_type == kMediaTypeAudio && header.subtype == kSubtypeMp3;
}

bool AudioDecoder::Configure(const StreamHeader& header, const std::vector<uint8_t>& format) {
  Lock();
  bool ok = StreamDecoder::Configure(header, format) && format.size() >= 30;
  if (ok) {
    const uint32_t rate = U32(format, 4);
    const uint16_t channels = U16(format, 2);
    const uint32_t chunks = U16(format, 26);
    // Bounded before anything is allocated: the rates and channel counts an
    // MP3 stream can have, and blocks of at most a minute of sound.
    ok = rate >= 8000 && rate <= 48000 && (channels == 1 || channels == 2) && chunks >= 1 && chunks <= 60;
    if (ok) {
      const size_t samples = static_cast<size_t>(chunks) * rate;
      try {
        left_.assign(samples, 0);
        right_.assign(samples, 0);
        interleaved_.assign(samples * channels, 0);
      } catch (const std::bad_alloc&) {
        ok = false;
      }
      rate_ = rate;
      channels_ = channels;
    }
    if (!ok) SetFailure("the sound's format cannot be played");
  }
  Unlock();
  return ok;
}

bool AudioDecoder::OnStart() {
  Lock();
  // Every playback from the start is a new MP3 stream for the decoder.
  bool ok = rate_ != 0 && decoder_->Open(rate_, channels_, Format());
  if (!ok) SetFailure("the MP3 decoder cannot be opened");
  if (ok && !output_->Open(rate_, channels_)) {
    SetFailure(output_->Error().empty() ? "no sound output" : output_->Error());
    ok = false;
  }
  begun_ = false;
  skip_frames_ = 0;
  Unlock();
  return ok && StreamDecoder::OnStart();
}

void AudioDecoder::OnStop() {
  output_->Close();
  StreamDecoder::OnStop();
}

void AudioDecoder::Stop() {
  // A write waiting on a paused output would hold the thread.
  if (IsRunning()) output_->Interrupt();
  StreamDecoder::Stop();
}

bool AudioDecoder::Pause() {
  if (output_->IsOpen()) output_->Pause();
  return StreamDecoder::Pause();
}

// The output plays unless the decoder is paused; quick play writes nothing
// to it, and what it held is dropped when quick play begins or resumes.
bool AudioDecoder::Resume() {
  if (output_->IsOpen()) {
    if (quick_) {
      output_->Reset();
      begun_ = false;
    }
    output_->Restart();
  }
  return StreamDecoder::Resume();
}

void AudioDecoder::SetQuickPlay(bool on) {
  quick_ = on;
  if (output_->IsOpen()) {
    if (on) output_->Reset();
    if (!on && !IsPaused()) output_->Restart();
  }
  if (on) begun_ = false;
  StreamDecoder::SetQuickPlay(on);
}

bool AudioDecoder::WriteSilence(uint32_t frames) {
  std::fill(interleaved_.begin(), interleaved_.end(), 0);
  const uint32_t room = static_cast<uint32_t>(interleaved_.size() / channels_);
  while (frames != 0) {
    const uint32_t n = std::min(frames, room);
    if (!output_->Write(interleaved_.data(), n)) {
      SetFailure(output_->Error().empty() ? "the sound output refused the sound" : output_->Error());
      return false;
    }
    frames -= n;
  }
  return true;
}

bool AudioDecoder::Present(PlayerPacket* packet) {
  if (packet == nullptr) return false;
  if (packet->data.empty()) return true;
  const uint32_t capacity = static_cast<uint32_t>(left_.size());
  // One packet may decode in more than one piece; each is played in turn.
  const uint8_t* data = packet->data.data();
  uint32_t size = static_cast<uint32_t>(packet->data.size());
  for (;;) {
    const int n = decoder_->Decode(data, size, left_.data(), right_.data(), capacity);
    if (n < 0) {
      SetFailure("the sound is damaged and cannot be decoded");
      return false;
    }
    if (n == 0) return true;
    data = nullptr;  // what is left of this packet is inside the decoder
    size = 0;
    // Quick play is silent; the decoder still moved on.
    if (quick_) continue;
    uint32_t frames = static_cast<uint32_t>(n) > capacity ? capacity : static_cast<uint32_t>(n);
    uint32_t from = 0;
    if (!begun_) {
      // The first sound: at its time on the presentation clock.
      begun_ = true;
      const int64_t early_ms = static_cast<int64_t>(packet->time_stamp) - static_cast<int64_t>(Position());
      if (early_ms > 0) {
        const uint32_t lead = static_cast<uint32_t>(std::min<int64_t>(early_ms, 1000) * rate_ / 1000);
        if (!WriteSilence(lead)) return false;
      } else if (-early_ms > kLateToleranceMs) {
        skip_frames_ = static_cast<uint64_t>(-early_ms) * rate_ / 1000;
      }
    }
    if (skip_frames_ != 0) {
      const uint32_t skip = static_cast<uint32_t>(std::min<uint64_t>(skip_frames_, frames));
      skip_frames_ -= skip;
      from = skip;
      frames -= skip;
      if (frames == 0) continue;
    }
    if (channels_ == 1) {
      if (!output_->Write(left_.data() + from, frames)) return false;
      continue;
    }
    for (uint32_t i = 0; i < frames; ++i) {
      interleaved_[2 * i] = left_[from + i];
      interleaved_[2 * i + 1] = right_[from + i];
    }
    if (!output_->Write(interleaved_.data(), frames)) {
      SetFailure(output_->Error().empty() ? "the sound output refused the sound" : output_->Error());
      return false;
    }
  }
}

}  // namespace kmr
