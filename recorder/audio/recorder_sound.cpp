#include "recorder/audio/recorder_sound.h"

#include "recorder/outputs/media_writer.h"

namespace kmr {

bool RecorderSound::Start(MediaWriter* writer, SoundStream* stream, RecordingTimeline* timeline) {
  error_.clear();
  stream_ = stream;
  if (writer == nullptr || stream_ == nullptr) {
    error_ = "no output to record the sound into";
    return false;
  }
  // The encoder takes only its own rates: the nearest one is chosen once,
  // and the sound is captured at it too (a capture at another rate would
  // play faster or slower than it was recorded).
  const uint32_t rate = Mp3Encoder::SnapRate(rate_);
  encoder_->SetChannels(2);
  encoder_->SetSampleRate(rate);
  encoder_->SetQuality(quality_);
  encoder_->SetVariableBitRate(stream_->VariableBitRateAllowed());
  if (!encoder_->Init()) {
    error_ = encoder_->IsLoaded() ? "the MP3 encoder refused the settings"
                                  : "the MP3 encoder library is missing: " + encoder_->Error();
    return false;
  }
  const uint32_t volume = 65535 - slider_;
  std::vector<AudioRecorder*> recorders{recorder_};
  for (const Extra& e : extra_) recorders.push_back(e.recorder);
  for (AudioRecorder* r : recorders) {
    r->SetVolume(volume, volume);
    r->SetBitsPerSample(16);
    r->SetChannels(2);
    r->SetSampleRate(rate);
    r->SetBufferSize(encoder_->GetInputBlockBytes());
    r->SetTimeline(timeline);
  }
  if (!stream_->Attach(FormatOf(*encoder_))) {
    error_ = "the audio stream refused the encoder's format";
    encoder_->Flush();
    return false;
  }
  stream_->SetWriter(writer);
  if (!writer->AddStream(stream_)) {
    error_ = "the writer refused the audio stream";
    encoder_->Flush();
    return false;
  }
  // The blocks are coded in front of the stream; one source goes straight
  // to the coding, more go through the mixer first.
  mixer_.reset();
  coding_ = std::make_unique<SoundCodingStage>(encoder_, stream_);
  if (extra_.empty() && gain_ == 100) {
    recorder_->SetSink(coding_.get());
  } else {
    PcmFormat format;
    format.channels = 2;
    format.samples_per_second = rate;
    mixer_ = std::make_unique<SoundMixer>(format, encoder_->GetInputBlockBytes());
    mixer_->SetOutput(coding_.get());
    recorder_->SetSink(mixer_->AddInput(gain_));
    for (const Extra& e : extra_) e.recorder->SetSink(mixer_->AddInput(e.gain));
  }
  for (size_t i = 0; i < recorders.size(); ++i) {
    if (recorders[i]->Start()) continue;
    error_ = recorders[i]->Error();
    for (size_t j = 0; j < i; ++j) recorders[j]->Stop();
    encoder_->Flush();
    return false;
  }
  return true;
}

bool RecorderSound::Pause() {
  bool ok = recorder_->Pause();
  for (const Extra& e : extra_) ok = e.recorder->Pause() && ok;
  return ok;
}

bool RecorderSound::Resume() {
  bool ok = recorder_->Resume();
  for (const Extra& e : extra_) ok = e.recorder->Resume() && ok;
  return ok;
}

void RecorderSound::Stop() {
  recorder_->Stop();
  for (const Extra& e : extra_) e.recorder->Stop();
  if (mixer_ != nullptr) mixer_->Finish();
  if (!encoder_->IsInitialized()) return;
  encoder_->Flush();
  if (encoder_->OutputBytes() == 0 || stream_ == nullptr) return;
  // The encoder's last bytes, as they are: after the last block, one
  // block long.
  MediaPacket last;
  last.data = encoder_->Output();
  last.size = encoder_->OutputBytes();
  last.time_stamp = stream_->GetEndTime();
  last.duration = recorder_->GetBufferDurationMs();
  stream_->Put(last);
}

}  // namespace kmr
