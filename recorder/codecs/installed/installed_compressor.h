// A compressor installed on the system, as the video settings page keeps it
// for the program's life: the list, the selected one opened for compression,
// its configuration, and frame by frame compression with the key-frame and
// data-rate rules (and the previous frame kept for compressors that need
// it). It is the compressing video streams' VideoCompressor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recorder/codecs/installed/compressor_driver.h"
#include "recorder/codecs/video_compressor.h"

namespace kmr {

class InstalledCompressor : public VideoCompressor {
 public:
  static constexpr uint32_t kDefaultQuality = 75;
  static constexpr uint32_t kDefaultDataRate = 1000000;

  explicit InstalledCompressor(std::unique_ptr<CompressorManager> manager);
  ~InstalledCompressor() override;
  InstalledCompressor(const InstalledCompressor&) = delete;
  InstalledCompressor& operator=(const InstalledCompressor&) = delete;

  // Rebuilds the list: every "vidc" compressor that opens and takes the
  // input format, once per handler code. Fails without an input format.
  bool List(std::vector<std::string>* names);
  // The first entry with that handler code (case matters), or -1.
  int Find(uint32_t handler) const;
  size_t Count() const { return entries_.size(); }
  const CompressorInfo& EntryInfo(size_t index) const { return entries_[index].info; }
  // Closes the open compressor and opens the entry for compression.
  bool Select(int index);
  int Selected() const { return selected_; }
  bool HasConfigureDialog();
  bool ShowConfigureDialog(void* owner);

  // A private copy of a bitmap info header (40 bytes).
  bool SetInputFormat(const std::vector<uint8_t>& header);
  // The input format for listing: bottom-up 640 × 480 at 32 bits.
  static std::vector<uint8_t> ListingFormat();
  void SetRate(uint32_t rate) { rate_ = rate; }
  void SetScale(uint32_t scale) { scale_ = scale; }
  // 0 keeps the default. The default is at most 0x7FFFFFFF, which every
  // consumer of the rate takes (the system's frames record holds it signed).
  void SetDataRate(uint32_t value) { data_rate_ = value; }
  uint32_t GetRate() const { return rate_; }
  uint32_t GetScale() const { return scale_; }
  uint32_t GetKeyFrameRate();
  uint32_t GetQuality();
  uint32_t GetDataRate() const;

  bool Begin();
  void End();
  bool IsStarted() const { return started_; }
  bool CompressFrame(const uint8_t* bits);

  const std::vector<uint8_t>& GetOutputFormat() const { return output_format_; }
  const uint8_t* GetCompressedData() const { return compressed_.data(); }
  uint32_t GetCompressedSize() const { return compressed_.empty() ? 0 : last_size_; }
  bool IsKeyFrame() const { return last_key_; }
  // For tests: the frames counted and the accumulators.
  uint32_t FrameNumber() const { return frame_number_; }
  uint32_t KeyCountdown() const { return key_countdown_; }
  int64_t NormalAccumulator() const { return normal_acc_; }
  int64_t KeyAccumulator() const { return key_acc_; }
  uint32_t MaxBytesPerFrame() const { return max_bytes_; }
  bool KeepsPreviousFrame() const { return !previous_.empty(); }

  // VideoCompressor: the input format, the rate, the default data rate and Begin.
  bool StartFrames(const std::vector<uint8_t>& input, uint32_t rate, uint32_t scale) override;
  void FinishFrames() override { End(); }
  const std::vector<uint8_t>& OutputFormat() const override { return output_format_; }
  uint32_t Scale() const override { return scale_; }
  uint32_t Rate() const override { return rate_; }
  uint32_t BitRate() const override { return GetDataRate(); }
  bool CompressFrame(const void* raw, uint32_t) override { return CompressFrame(static_cast<const uint8_t*>(raw)); }
  // The key-frame countdown runs on slots: the next frame after a key
  // interval of recording time is a key frame, however few changed.
  void PassSlots(uint32_t slots) override;
  const uint8_t* CompressedData() const override { return GetCompressedData(); }
  uint32_t CompressedSize() const override { return GetCompressedSize(); }
  bool CompressedKeyFrame() const override { return IsKeyFrame(); }

 private:
  struct Entry {
    CompressorInfo info;
    std::vector<uint8_t> state;
  };
  void FreeBuffers();

  std::unique_ptr<CompressorManager> manager_;
  std::vector<Entry> entries_;
  int selected_ = -1;
  Entry current_;
  std::unique_ptr<CompressorDriver> driver_;
  std::vector<uint8_t> input_format_;
  std::vector<uint8_t> output_format_;
  uint32_t rate_ = 25, scale_ = 1, data_rate_ = 0;
  bool started_ = false;
  bool last_key_ = false;
  uint32_t key_countdown_ = 0;
  uint32_t frame_number_ = 0;
  int64_t normal_acc_ = 0, key_acc_ = 0;
  uint32_t max_bytes_ = 0;
  std::vector<uint8_t> compressed_;
  uint32_t last_size_ = 0;
  std::vector<uint8_t> previous_;
  std::vector<uint8_t> saved_state_;
};

// Text of a compressor's UTF-16 name for the lists (UTF-8).
std::string NarrowName(const std::u16string& text);

}  // namespace kmr
