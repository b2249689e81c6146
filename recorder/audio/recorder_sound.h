// The sound path of a recording: at start the encoder is set up for the
// chosen rate and quality, the recorder for the encoder's block, and the
// output's audio stream joins the writer; at stop the recorder ends first,
// then what the encoder still holds is queued as the last packet. More
// sources (each with a recorder of its own, and a gain) are mixed into the
// same stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recorder/audio/audio_recorder.h"
#include "recorder/audio/mp3_encoder.h"
#include "recorder/audio/sound_coding_stage.h"
#include "recorder/audio/sound_mixer.h"
#include "recorder/outputs/media_stream.h"
#include "recorder/control/sound_path.h"

namespace kmr {

class RecorderSound : public SoundPath {
 public:
  RecorderSound(Mp3Encoder* encoder, AudioRecorder* recorder) : encoder_(encoder), recorder_(recorder) {}

  // Another source, mixed in with that gain (percent; the first source's is
  // SetGain's). Not owned.
  void AddSource(AudioRecorder* recorder, uint32_t gain_percent) { extra_.push_back({recorder, gain_percent}); }
  void SetGain(uint32_t gain_percent) { gain_ = gain_percent; }

  // Any rate: the sound is recorded at the nearest the encoder takes.
  void SetSampleRate(uint32_t hz) { rate_ = hz; }
  uint32_t SampleRate() const { return Mp3Encoder::SnapRate(rate_); }
  void SetQuality(int quality) { quality_ = quality; }
  // The volume slider's position, 0 at the top: the volume is 65535 minus it.
  void SetVolumeSlider(uint32_t position) { slider_ = position > 65535 ? 65535 : position; }

  // The stream is the output's sound stream; it is kept until the next start.
  bool Start(MediaWriter* writer, SoundStream* stream, RecordingTimeline* timeline) override;
  void Stop() override;
  bool Pause() override;
  bool Resume() override;

  // Why the last start failed, for the user.
  const std::string& Error() const { return error_; }

 private:
  Mp3Encoder* encoder_;
  AudioRecorder* recorder_;
  SoundStream* stream_ = nullptr;
  uint32_t rate_ = 22050;
  int quality_ = 5;
  uint32_t slider_ = 45535;
  std::string error_;
  struct Extra {
    AudioRecorder* recorder;
    uint32_t gain;
  };
  std::vector<Extra> extra_;
  uint32_t gain_ = 100;
  std::unique_ptr<SoundCodingStage> coding_;
  std::unique_ptr<SoundMixer> mixer_;
};

}  // namespace kmr
