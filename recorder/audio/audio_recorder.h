// Records sound from one capture device on a worker thread of its own:
// every filled buffer is stamped with its place on the audio time line and
// handed to the sink (the output's audio stream, which codes and queues it).
// Time stamps come from the number of buffers delivered, so the time line
// is continuous and leaves paused time out; it starts where the first
// recorded buffer's sound was taken (a device that begins late, or buffers
// that came before the writer ran, move it on). Before capture the device's
// recording input and its volume are set; afterwards both are put back.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "recorder/audio/capture_device.h"
#include "recorder/audio/input_mixer.h"
#include "recorder/engine/media_stream.h"
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
  bool SetSink(MediaStream* stream);

  // The buffer size in bytes (one second when none was set).
  uint32_t GetBufferSize() const;
  uint32_t GetBufferDurationMs() const;
  // Milliseconds from the start to block n.
  uint32_t TimeOfBlock(uint32_t n) const;
  // Where the first recorded block lies on the recording's time line: 0
  // unless the device began late or blocks went before the writer ran.
  uint32_t StartOffsetMs() const { return offset_ms_.load(); }

  bool ListDevices(std::vector<std::string>* names) { return device_->ListDevices(names); }
  bool ListInputs(std::vector<std::string>* names) { return mixer_.ListInputs(device_id_, names); }

  // Buffers handed to the sink since the device was opened.
  uint32_t BlocksDelivered() const { return blocks_.load(); }
  // Buffers the device filled while recording but nobody took: paused,
  // before the writer ran, or refused by the sink.
  uint32_t BlocksDropped() const { return dropped_.load(); }
  // Why the last start failed.
  const std::string& Error() const { return error_; }

 protected:
  bool OnStart() override;
  bool Step() override;
  void OnStop() override;

 private:
  CaptureDevice* device_;
  InputMixer mixer_;
  int32_t device_id_ = -1;
  int32_t input_ = -1;
  uint32_t left_ = kDefaultVolume, right_ = kDefaultVolume;
  PcmFormat format_;
  uint32_t buffer_size_ = 0;
  uint32_t buffer_count_ = 8;
  MediaStream* sink_ = nullptr;
  std::atomic<uint32_t> blocks_{0};
  std::atomic<uint32_t> dropped_{0};
  std::atomic<uint32_t> offset_ms_{0};
  uint32_t dropped_before_first_ = 0;
  bool device_open_ = false;
  std::string error_;
};

}  // namespace kmr
