// Mixes the sound of several sources (what the computer plays and the
// microphone, say) into the one stream of a recording. Each source's
// recorder hands its blocks to an input of the mixer, each block stamped
// with its place on the recording's time line; the mixer adds the sources'
// samples of the same place, each with its own gain, and hands whole blocks
// of the mix to the output stream. A source that is late or stalls holds
// the mix back at most a second: its part is then silence, and what it
// sends later for a place already mixed is left out.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/sync/sync.h"
#include "recorder/audio/capture_device.h"
#include "recorder/outputs/media_stream.h"

namespace kmr {

class SoundMixer {
 public:
  static constexpr uint32_t kMaxWaitMs = 1000;
  // Gains in percent.
  static constexpr uint32_t kMaxGain = 400;

  // format: the sources' common format (16-bit); block_bytes: the size of
  // the blocks they send and the output takes.
  SoundMixer(const PcmFormat& format, uint32_t block_bytes);
  ~SoundMixer();

  // A new input with a gain (100: as captured); where its recorder sends
  // its blocks. Owned by the mixer.
  PacketSink* AddInput(uint32_t gain_percent);
  size_t Inputs() const { return inputs_.size(); }
  // Where the mix goes, and the writer every input reports as its own.
  void SetOutput(PacketSink* output);
  // At the end: what is left, made whole blocks with silence.
  void Finish();
  uint64_t BlocksOut() const;
  // The output's writer; null without an output.
  MediaWriter* Writer() const;

 private:
  class Input;
  friend class Input;
  struct Source {
    bool begun = false;
    int64_t first = 0;     // time-line place of samples.front(), in frames
    int64_t arriving = 0;  // place of the next sample the source sends
    std::deque<int16_t> samples;
    uint32_t gain = 100;
  };
  bool Take(size_t index, const void* data, uint32_t size, uint32_t time_stamp);
  // Mixes and sends every block that is ready (all, at the end).
  bool MixReady(bool all);
  int64_t FramesAt(uint32_t ms) const;

  PcmFormat format_;
  uint32_t block_bytes_;
  uint32_t block_frames_;
  uint16_t channels_;
  PacketSink* output_ = nullptr;
  std::vector<std::unique_ptr<Input>> inputs_;
  mutable platform::Mutex mu_;
  std::vector<Source> sources_;
  bool begun_ = false;
  int64_t next_ = 0;  // time-line place of the next block out, in frames
  uint64_t blocks_out_ = 0;
  std::vector<int16_t> mix_;
};

}  // namespace kmr
