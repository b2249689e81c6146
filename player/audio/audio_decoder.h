// The player's decoder for MP3 sound streams: each packet, handed over up to
// 100 ms before its time, is decoded and queued to the sound output, which
// plays the blocks back to back. The first sound after a start, a seek or
// quick play begins at its time on the presentation clock: silence first
// when it came early, its start left out when it came late. Pause and
// resume act on the output at once; quick play decodes without playing, so
// the decoder stays in step.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "player/audio/audio_output.h"
#include "player/stream_decoder.h"

namespace kmr {

class AudioDecoder : public StreamDecoder {
 public:
  static constexpr uint32_t kQueuePackets = 100;
  static constexpr uint32_t kLeadMs = 100;
  // A first sound later than this on the clock loses its start; one less
  // late plays whole (a moment's lateness of the decoder's own thread).
  static constexpr int64_t kLateToleranceMs = 20;

  AudioDecoder(Mp3Decoder* decoder, SoundOutput* output, platform::MsClock* clock,
               std::unique_ptr<platform::FrameTimer> timer);
  ~AudioDecoder() override;

  void Stop() override;
  bool Pause() override;
  bool Resume() override;
  bool Accept(const StreamHeader& header) override;
  bool Configure(const StreamHeader& header, const std::vector<uint8_t>& format) override;
  void SetQuickPlay(bool on) override;
  uint32_t Lead() const override { return kLeadMs; }
  bool Present(PlayerPacket* packet) override;
  // Quick play writes nothing, so it has nothing to play out.
  bool PlayedOut() override { return quick_ || !output_->IsOpen() || output_->PlayedOut(); }

  uint32_t SampleRate() const { return rate_; }
  uint16_t Channels() const { return channels_; }

 protected:
  bool OnStart() override;
  void OnStop() override;

 private:
  bool WriteSilence(uint32_t frames);

  Mp3Decoder* decoder_;
  SoundOutput* output_;
  uint32_t rate_ = 0;
  uint16_t channels_ = 0;
  std::vector<int16_t> left_, right_, interleaved_;
  bool quick_ = false;
  // Whether sound was written since the output last started empty, and the
  // frames still to leave out of the first sound (it came late).
  bool begun_ = false;
  uint64_t skip_frames_ = 0;
};

}  // namespace kmr
