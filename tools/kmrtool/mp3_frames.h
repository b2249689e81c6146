// An MP3 file cut into its frames, as a sound source for a recording: its
// wave format describes the first frame's coding, each frame has its time on
// the sound's time line. Frames must keep one rate and channel count.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/outputs/video_source.h"

namespace kmr {

class Mp3Frames : public AudioFormatSource {
 public:
  static constexpr uint64_t kMaxFileBytes = 256u << 20;

  // false with *error (one line) for a file that is not whole MP3 frames
  // (an ID3v2 tag in front and a tag after the last frame are skipped).
  bool Parse(const std::vector<uint8_t>& file, std::string* error);
  bool Load(const std::string& path, std::string* error);

  struct Frame {
    uint32_t offset;
    uint32_t size;
    uint32_t time_ms;      // of its first sample
    uint32_t duration_ms;  // rounded
  };
  const std::vector<Frame>& Frames() const { return frames_; }
  const uint8_t* Data(const Frame& f) const { return bytes_.data() + f.offset; }
  uint32_t SampleRate() const { return rate_; }
  uint16_t Channels() const { return channels_; }

  std::vector<uint8_t> WaveFormat() const override;

 private:
  std::vector<uint8_t> bytes_;
  std::vector<Frame> frames_;
  uint32_t rate_ = 0;
  uint16_t channels_ = 0;
  uint32_t bit_rate_ = 0;  // bits a second, of the first frame
};

}  // namespace kmr
