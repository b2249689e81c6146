// Records sound from one capture device on a worker thread of its own. The
// captured samples are put on the recording's time line (SoundPlacer):
// those taken before the start or while paused are left out where the
// start, pause or resume lies, the device's clock is kept in step with the
// recording clock, and the rest goes to the sink (the output's audio
// stream, which codes and queues it) in blocks of the set size, stamped by
// their count. The device keeps running through a pause. Blocks made
// before the writer runs wait for it. Before capture the device's recording
// input and its volume are set; afterwards both are put back.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "recorder/audio/capture_device.h"
#include "recorder/audio/input_mixer.h"
#include "recorder/audio/sound_placer.h"
#include "recorder/outputs/media_stream.h"
#include "shared/worker_thread.h"

namespace kmr {

class AudioRecorder : public WorkerThread {
 public:
  static constexpr uint32_t kVolumeMax = 65535;
  static constexpr uint32_t kDefaultVolume = 20000;

  AudioRecorder(CaptureDevice* device, AudioMixer* mixer);
  ~AudioRecorder() override;

  void SetDevice(int32_t id) { device_id_ = id; }
  void SetInput(int32_t index) { input_ = index; }
  void SetVolume(uint32_t left, uint32_t right);
  void SetChannels(uint16_t n) { format_.channels = n; }
  void SetBitsPerSample(uint16_t n) { format_.bits_per_sample = n; }
  void SetSampleRate(uint32_t hz) { format_.samples_per_second = hz; }
  void SetBufferSize(uint32_t bytes) { buffer_size_ = bytes; }
  void SetBufferCount(uint32_t n) { buffer_count_ = n; }
  bool SetSink(PacketSink* sink);
  // The recording's time line, paused and resumed by its owner (the video
  // source); null: a time line of the recorder's own, started with it and
  // paused by Pause and Resume.
  void SetTimeline(RecordingTimeline* timeline) { shared_timeline_ = timeline; }

  // The device keeps running while paused: only the time line pauses.
  bool Pause() override;
  bool Resume() override;

  // The buffer size in bytes (one second when none was set).
  uint32_t GetBufferSize() const;
  uint32_t GetBufferDurationMs() const;
  // Milliseconds from the start to block n.
  uint32_t TimeOfBlock(uint32_t n) const;
  // Where the sound begins on the recording's time line: 0 unless the
  // device began late.
  uint32_t StartOffsetMs() const { return offset_ms_.load(); }

  bool ListDevices(std::vector<std::string>* names) { return device_->ListDevices(names); }
  bool ListInputs(std::vector<std::string>* names) { return mixer_.ListInputs(device_id_, names); }

  // Blocks handed to the sink since the device was opened.
  uint32_t BlocksDelivered() const { return blocks_.load(); }
  // Blocks the sink refused, or that no running writer took.
  uint32_t BlocksDropped() const { return dropped_.load(); }
  // Sample frames left out as taken before the start or while paused.
  uint64_t FramesCut() const { return cut_.load(); }
  // Why the last start failed.
  const std::string& Error() const { return error_; }

 protected:
  bool OnStart() override;
  bool Step() override;
  void OnStop() override;

 private:
  RecordingTimeline* Timeline() { return shared_timeline_ != nullptr ? shared_timeline_ : &own_timeline_; }
  // Hands the waiting blocks to the sink while its writer runs.
  void Deliver(std::vector<SoundPlacer::Block>* made);

  CaptureDevice* device_;
  InputMixer mixer_;
  int32_t device_id_ = -1;
  int32_t input_ = -1;
  uint32_t left_ = kDefaultVolume, right_ = kDefaultVolume;
  PcmFormat format_;
  uint32_t buffer_size_ = 0;
  uint32_t buffer_count_ = 8;
  PacketSink* sink_ = nullptr;
  std::atomic<uint32_t> blocks_{0};
  std::atomic<uint32_t> dropped_{0};
  std::atomic<uint32_t> offset_ms_{0};
  std::atomic<uint64_t> cut_{0};
  RecordingTimeline own_timeline_;
  RecordingTimeline* shared_timeline_ = nullptr;
  std::unique_ptr<SoundPlacer> placer_;
  std::deque<SoundPlacer::Block> waiting_;
  bool device_open_ = false;
  std::string error_;
};

}  // namespace kmr
