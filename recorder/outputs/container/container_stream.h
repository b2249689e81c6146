// Streams of the screen video container: a descriptor (StreamHeader and format
// block) written at open, then one packet record per written packet.
#pragma once

#include <cstdint>
#include <vector>

#include "recorder/outputs/media_stream.h"
#include "recorder/outputs/container/output_file.h"
#include "recorder/outputs/stream_format.h"
#include "shared/container/container_format.h"

namespace kmr {

// What the container's video and sound streams share: the descriptor and
// the packet records.
class ContainerStream : public virtual MediaStream {
 public:
  bool VariableBitRateAllowed() const override { return true; }
  // Writes the header and the format block, then the base Open.
  bool Open() override;
  // Fails when a write fails (the file's error says why) or when the file
  // reaches the container's size limit (that packet is whole in the file).
  bool WritePacket(const Packet* packet) override;
  bool BindTo(StreamBinder& writer, uint32_t id) override { return writer.Bind(*this, id); }
  // The file the writer opened and the stream's number in it.
  bool Bind(OutputFile* file, uint32_t id);
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

class ContainerVideoStream : public ContainerStream, public VideoStream {
 public:
  // The own codecs' frames only.
  bool Attach(const OwnVideoFormat& format) override;
  using VideoStream::Attach;
  uint32_t KeyFlag() const override { return kPacketFlagKeyFrame; }
};

class ContainerAudioStream : public ContainerStream, public SoundStream {
 public:
  // The packets are coded MP3 blocks.
  bool Attach(const SoundFormat& format) override;
};

// The video format block for a source.
std::vector<uint8_t> BuildVideoFormatBlock(const OwnVideoFormat& format);

}  // namespace kmr
