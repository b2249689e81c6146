// Reads a screen video container: from the end of the player's own program
// file, from a self-playing recording or a stand-alone ".kmr" file (container
// start 0) given by path, or from memory. Nothing in the file is trusted: a
// damaged or hostile recording gives a one-line error, never a read outside
// the file or an allocation larger than the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/byte_source.h"
#include "player/recording_file.h"
#include "shared/container/container_format.h"

namespace kmr {

class ContainerFile : public RecordingFile {
 public:

  bool OpenOwnExecutable();
  bool OpenPath(const std::string& path);
  bool OpenSource(std::unique_ptr<ByteSource> source);
  void Close() override;
  bool IsOpen() const override { return source_ != nullptr; }
  const std::string& Error() const override { return error_; }
  uint32_t Duration() const override { return trailer_.duration; }
  bool AtEnd() const override { return position_ >= packet_end_; }
  uint64_t StartOffset() const override { return packet_start_; }
  std::string Kind() const override { return "screen video container"; }

  const Trailer& GetTrailer() const { return trailer_; }
  const std::vector<StreamDescriptor>& Streams() const override { return streams_; }
  uint64_t FileSize() const { return source_ ? source_->Size() : 0; }
  uint64_t PacketDataStart() const { return packet_start_; }
  uint64_t PacketDataEnd() const { return packet_end_; }
  uint64_t Position() const { return position_; }

  // Reads the next packet record up to the end of packet data.
  ReadResult ReadPacket(PacketRecord* out) override;
  // Back to the first packet.
  void Rewind() override { position_ = packet_start_; }
  // To a packet record's offset (one an index gave), within the packet data.
  void SetPosition(uint64_t offset) override {
    position_ = offset < packet_start_ ? packet_start_ : offset > packet_end_ ? packet_end_ : offset;
  }

  // A stream's key packets (time stamp, record offset) in file order, from
  // the packet records' headers only; a damaged record ends the index
  // quietly (reading the packets reports it). The reading position is kept.
  std::vector<KeyPacket> IndexKeyPackets(uint16_t stream_id) override;

 private:
  bool Fail(const std::string& message);
  bool Parse();

  std::unique_ptr<ByteSource> source_;
  std::string error_;
  Trailer trailer_;
  std::vector<StreamDescriptor> streams_;
  uint64_t packet_start_ = 0;
  uint64_t packet_end_ = 0;
  uint64_t position_ = 0;
};

}  // namespace kmr
