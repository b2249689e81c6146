#include "recorder/audio/audio_recorder.h"

#include <algorithm>

#include "recorder/outputs/media_writer.h"
#include "shared/mul_div.h"

namespace kmr {

AudioRecorder::AudioRecorder(CaptureDevice* device, AudioMixer* mixer) : device_(device), mixer_(mixer) {}

AudioRecorder::~AudioRecorder() { Stop(); }

void AudioRecorder::SetVolume(uint32_t left, uint32_t right) {
  left_ = std::min(left, kVolumeMax);
  right_ = std::min(right, kVolumeMax);
}

bool AudioRecorder::SetSink(PacketSink* sink) {
  if (sink == nullptr) return false;
  sink_ = sink;
  return true;
}

uint32_t AudioRecorder::GetBufferSize() const {
  if (buffer_size_ != 0) return buffer_size_;
  return static_cast<uint32_t>(static_cast<uint64_t>(format_.bits_per_sample) * format_.channels *
                               format_.samples_per_second / 8);
}

uint32_t AudioRecorder::GetBufferDurationMs() const {
  const uint32_t bps = format_.BytesPerSecond();
  return bps == 0 ? 0 : static_cast<uint32_t>(static_cast<uint64_t>(GetBufferSize()) * 1000 / bps);
}

uint32_t AudioRecorder::TimeOfBlock(uint32_t n) const { return BlockTimeMs(format_, GetBufferSize(), n); }

bool AudioRecorder::Pause() {
  if (!IsRunning()) return false;
  if (shared_timeline_ == nullptr) own_timeline_.Pause();
  return true;
}

bool AudioRecorder::Resume() {
  if (!IsRunning()) return false;
  if (shared_timeline_ == nullptr) own_timeline_.Resume();
  return true;
}

bool AudioRecorder::OnStart() {
  error_.clear();
  blocks_.store(0);
  dropped_.store(0);
  offset_ms_.store(0);
  cut_.store(0);
  waiting_.clear();
  if (sink_ == nullptr) {
    error_ = "no stream to record the sound into";
    return false;
  }
  if (!mixer_.Select(device_id_, input_)) {
    error_ = "cannot select the recording input";
    mixer_.Restore(device_id_);
    return false;
  }
  if (!mixer_.SetVolume(device_id_, input_, left_, right_)) {
    error_ = "cannot set the recording volume";
    mixer_.Restore(device_id_);
    return false;
  }
  const uint32_t size = GetBufferSize();
  if (size == 0 || format_.BlockAlign() == 0 || size % format_.BlockAlign() != 0) {
    error_ = "the capture buffer is not a whole number of sample frames";
    mixer_.Restore(device_id_);
    return false;
  }
  if (!device_->Open(device_id_, format_, size, buffer_count_)) {
    error_ = device_->Error().empty() ? "cannot open the sound device" : device_->Error();
    mixer_.Restore(device_id_);
    return false;
  }
  device_open_ = true;
  placer_ = std::make_unique<SoundPlacer>(format_, size);
  if (shared_timeline_ == nullptr) own_timeline_.Start();
  return true;
}

void AudioRecorder::Deliver(std::vector<SoundPlacer::Block>* made) {
  for (auto& b : *made) waiting_.push_back(std::move(b));
  made->clear();
  // Blocks wait for the writer at most a minute's worth; older ones go.
  while (waiting_.size() > 1 && waiting_.back().time_ms - waiting_.front().time_ms > 60000) {
    waiting_.pop_front();
    dropped_.fetch_add(1);
  }
  MediaWriter* writer = sink_->GetWriter();
  if (writer == nullptr || !writer->IsRunning()) return;
  while (!waiting_.empty()) {
    const SoundPlacer::Block& b = waiting_.front();
    if (blocks_.load() == 0) offset_ms_.store(placer_->StartMs());
    MediaPacket block;
    block.data = b.pcm.data();
    block.size = static_cast<uint32_t>(b.pcm.size());
    block.time_stamp = b.time_ms;
    block.duration = b.duration_ms;
    if (!sink_->Put(block)) {
      // The encoder refused it: that block is lost, capture goes on.
      dropped_.fetch_add(1);
    }
    blocks_.fetch_add(1);
    waiting_.pop_front();
  }
}

bool AudioRecorder::Step() {
  RecordingTimeline* timeline = Timeline();
  std::vector<SoundPlacer::Block> made;
  while (IsRunning()) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (!device_->NextBuffer(&data, &size)) {
      error_ = device_->Error().empty() ? "the sound device stopped" : device_->Error();
      return false;
    }
    if (size == 0 || data == nullptr) continue;  // nothing yet: look at the running flag again
    // A buffer that came as the recording stopped holds sound from before.
    const uint32_t arrived = timeline->ClockMs();
    placer_->Add(data, size, arrived, timeline->Snapshot(), &made);
    cut_.store(placer_->FramesCut());
    Deliver(&made);
  }
  // The last samples, up to the recording's end, made a whole block.
  placer_->Finish(&made, timeline->NowMs());
  Deliver(&made);
  return true;
}

void AudioRecorder::OnStop() {
  if (device_open_) device_->Close();
  device_open_ = false;
  mixer_.Restore(device_id_);
}

}  // namespace kmr
