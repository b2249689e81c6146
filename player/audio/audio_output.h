// What the player's sound needs from the platform: a stateful MP3 decoder
// and a sound output that plays queued blocks back to back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kmr {

class Mp3Decoder {
 public:
  virtual ~Mp3Decoder() = default;
  // Starts a new stream of that rate and channel count.
  virtual bool Open(uint32_t samples_per_second, uint16_t channels, const std::vector<uint8_t>& wave_format) = 0;
  // Decodes data (more of the same stream) into left and right, at most
  // capacity samples each: the samples per channel decoded, 0 when the data
  // ends inside a frame, negative on an error. Mono fills left only. Null
  // data takes more of what earlier data decodes to (call until 0).
  virtual int Decode(const uint8_t* data, uint32_t size, int16_t* left, int16_t* right, uint32_t capacity) = 0;
  virtual void Close() = 0;
};

class SoundOutput {
 public:
  virtual ~SoundOutput() = default;
  // The system's default output, 16-bit PCM.
  virtual bool Open(uint32_t samples_per_second, uint16_t channels) = 0;
  // Queues interleaved samples to play after what is queued; false when the
  // output refused them.
  virtual bool Write(const int16_t* samples, uint32_t frames) = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  // Drops everything queued.
  virtual void Reset() = 0;
  // Whether everything written has been heard; asked at the end of the
  // stream, before the output is closed (closing drops what is queued).
  // Paused, it has not. An output that cannot tell says yes.
  virtual bool PlayedOut() { return true; }
  // Wakes a Write that waits for room (a paused output takes nothing);
  // writes fail from then on until the next Open.
  virtual void Interrupt() {}
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual std::string Error() const { return {}; }
};

}  // namespace kmr
