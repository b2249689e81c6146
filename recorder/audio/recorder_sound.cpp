#include "recorder/audio/recorder_sound.h"

#include "recorder/engine/media_writer.h"

namespace kmr {

bool RecorderSound::Start(MediaWriter* writer, RecordingTimeline* timeline) {
  error_.clear();
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
                                  : "the MP3 encoder library is missing: " + encoder_->LoadError();
    return false;
  }
  const uint32_t volume = 65535 - slider_;
  recorder_->SetVolume(volume, volume);
  recorder_->SetBitsPerSample(16);
  recorder_->SetChannels(2);
  recorder_->SetSampleRate(rate);
  recorder_->SetBufferSize(encoder_->GetInputBlockBytes());
  recorder_->SetTimeline(timeline);
  if (!stream_->Attach(encoder_, 0)) {
    error_ = "the audio stream refused the encoder's format";
    encoder_->Flush();
    return false;
  }
  stream_->SetWriter(writer);
  if (!writer->AddStream(stream_) || !recorder_->SetSink(stream_)) {
    error_ = "the writer refused the audio stream";
    encoder_->Flush();
    return false;
  }
  if (!recorder_->Start()) {
    error_ = recorder_->Error();
    encoder_->Flush();
    return false;
  }
  return true;
}

void RecorderSound::Stop() {
  recorder_->Stop();
  if (!encoder_->IsInitialized()) return;
  encoder_->Flush();
  if (encoder_->OutputBytes() == 0 || stream_ == nullptr) return;
  // The encoder's last bytes, as they are: after the last block, one
  // block long.
  stream_->MediaStream::Submit(encoder_->Output(), encoder_->OutputBytes(), stream_->GetEndTime(),
                               recorder_->GetBufferDurationMs(), 0);
}

}  // namespace kmr
