// Streams of the screen video container: a descriptor (StreamHeader and format
// block) written at open, then one packet record per written packet.
#pragma once

#include <cstdint>
#include <vector>

#include "recorder/engine/block_encoder.h"
#include "recorder/engine/media_stream.h"
#include "recorder/engine/output_file.h"
#include "recorder/engine/video_source.h"
#include "shared/container/container_format.h"

namespace kmr {

class ContainerStream : public MediaStream {
 public:
  bool VariableBitRateAllowed() const override { return true; }
  // Writes the header and the format block, then the base Open.
  bool Open() override;
  // Fails when a write fails (the file's error says why) or when the file
  // reaches the container's size limit (that packet is whole in the file).
  bool WritePacket(const Packet* packet) override;
  // target: the OutputFile.
  bool Bind(void* target, uint32_t id) override;
  // End (time stamp + duration) of the last packet the writer thread took
  // through WritePacket successfully; 0 before any.
  uint32_t WrittenEndTime() const { return written_end_; }

  const StreamHeader& Header() const { return header_; }
  const std::vector<uint8_t>& FormatBlock() const { return format_; }

 protected:
  void SetDescriptor(const StreamHeader& header, std::vector<uint8_t> format);

 private:
  OutputFile* file_ = nullptr;
  uint16_t id_ = 0;
  uint32_t written_end_ = 0;
  StreamHeader header_;
  std::vector<uint8_t> format_;
};

// Frame times on the grid n × 1000 / fps (rounded), never earlier than the
// previous frame's slot; slots the source fell behind on are skipped.
class FrameGrid {
 public:
  void Reset() { n_ = 0; }
  // The slot for source time t; fps must be at least 1.
  uint32_t SlotFor(uint32_t fps, uint32_t t);
  void Advance() { ++n_; }
  uint32_t Count() const { return n_; }
  static uint32_t SlotTime(uint32_t n, uint32_t fps);

 private:
  uint32_t n_ = 0;
};

// Submits the source's encoded frame through the stream's base Submit at
// the grid slot for time_stamp, with key_flag when the source marks a key
// frame; the grid advances only when the submit succeeds.
bool SubmitOnGrid(MediaStream* stream, const EncodedVideoSource* source, FrameGrid* grid, uint32_t time_stamp,
                  uint32_t key_flag);

class ContainerVideoStream : public ContainerStream {
 public:
  // source: an EncodedVideoSource.
  bool Attach(MediaSource* source, uint32_t options) override;
  bool Open() override;
  void Close() override;
  // Uses only the time stamp; data, duration and flags come from the source.
  bool Submit(const void* data, uint32_t size, uint32_t time_stamp, uint32_t duration, uint32_t flags) override;

  uint32_t FrameCounter() const { return grid_.Count(); }

 private:
  EncodedVideoSource* source_ = nullptr;
  FrameGrid grid_;
};

class ContainerAudioStream : public ContainerStream {
 public:
  // source: an AudioFormatSource giving the 30-byte MP3 wave format; when it
  // is a BlockEncoder, Submit codes every block with it first.
  bool Attach(MediaSource* source, uint32_t options) override;
  // One whole input block (size is not used): coded, then queued with the
  // coded bytes; false, and nothing queued, when the encoder refuses it.
  bool Submit(const void* data, uint32_t size, uint32_t time_stamp, uint32_t duration, uint32_t flags) override;
  // Queues bytes that are already coded (the encoder's flush at the end).
  bool SubmitCoded(const void* data, uint32_t size, uint32_t time_stamp, uint32_t duration);

 private:
  BlockEncoder* encoder_ = nullptr;
};

// The video format block for a source.
std::vector<uint8_t> BuildVideoFormatBlock(const EncodedVideoSource* source);

}  // namespace kmr
