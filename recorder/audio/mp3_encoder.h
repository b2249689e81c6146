// Codes 16-bit PCM blocks to MP3 through the encoder library's entry points
// ("lame_enc.dll" on Windows, "lame_enc.so" beside kelvo on Linux), loaded by
// name at run time. It picks the MPEG version and the bit rates from the
// sample rate and a 0..9 quality, and describes its output with the 30-byte
// MP3 wave format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/library/library.h"
#include "recorder/audio/blade_interface.h"
#include "recorder/audio/lame_config.h"
#include "recorder/outputs/block_encoder.h"

namespace kmr {

class Mp3Encoder : public BlockEncoder {
 public:
  static constexpr const char* kLibraryName = "lame_enc";
  // The rates the encoder takes (and the Audio page offers), in Hz.
  static constexpr uint32_t kRates[6] = {16000, 22050, 24000, 32000, 44100, 48000};

  Mp3Encoder();
  ~Mp3Encoder() override;

  // path: a library file, or null for the library beside the program, then
  // the one the system finds by name. False when it or any of the seven
  // entry points is missing (Error says which).
  bool Load(const char* path = nullptr);
  void Unload();
  bool IsLoaded() const { return init_ != nullptr; }
  const std::string& Error() const { return load_error_; }

  void SetChannels(uint16_t n);
  void SetSampleRate(uint32_t hz);
  void SetFramesPerBlock(uint16_t n);
  void SetQuality(int quality);  // above 9 is 9
  void SetVariableBitRate(bool on) { vbr_ = on; }
  int Quality() const { return quality_; }

  bool Init();
  // The PCM bytes one EncodeBlock consumes.
  uint32_t GetInputBlockBytes() const { return static_cast<uint32_t>(frames_per_block_) * samples_per_chunk_ * 2; }
  bool EncodeBlock(const void* pcm) override;
  // Ends the stream into the output; the encoder is then no longer initialised.
  void Flush();
  const uint8_t* Output() const override { return output_.data(); }
  uint32_t OutputBytes() const override { return output_.empty() ? 0 : output_bytes_; }
  std::vector<uint8_t> WaveFormat() const override;
  bool IsInitialized() const { return initialized_; }

  // What the last Init gave the library, and the rates it chose (kbit/s).
  const LameConfigRecord& ConfigRecord() const { return record_; }
  uint32_t BitRate() const { return config_.bit_rate; }
  uint32_t MaxBitRate() const { return config_.max_bit_rate; }

  // The nearest of kRates (the first of two equally near ones).
  static uint32_t SnapRate(uint32_t hz);

 private:
  platform::DynamicLibrary library_;
  std::string load_error_;
  KmrBeInitStream init_ = nullptr;
  KmrBeEncodeChunk encode_ = nullptr;
  KmrBeDeinitStream deinit_ = nullptr;
  KmrBeCloseStream close_ = nullptr;
  KmrBeStream stream_ = 0;
  bool have_stream_ = false;

  LameConfig config_;
  LameConfigRecord record_{};
  uint16_t channels_ = 2;
  uint32_t sample_rate_ = 22050;
  uint16_t frames_per_block_ = 5;
  int quality_ = 5;
  bool vbr_ = false;
  uint32_t samples_per_chunk_ = 0;
  uint32_t bytes_per_chunk_ = 0;
  uint32_t avg_bytes_per_second_ = 0;
  std::vector<uint8_t> output_;
  uint32_t output_bytes_ = 0;
  bool initialized_ = false;
};

}  // namespace kmr
