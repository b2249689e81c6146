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
#include "shared/container/container_format.h"

namespace kmr {

struct StreamDescriptor {
  StreamHeader header;
  std::vector<uint8_t> format;
};

// What the reader offers each stream descriptor to (the player's decoders).
class StreamAcceptor {
 public:
  virtual ~StreamAcceptor() = default;
  virtual bool Accept(const StreamHeader& header) = 0;
  // Takes copies of the header and the format block.
  virtual bool Configure(const StreamHeader& header, const std::vector<uint8_t>& format) = 0;
};

struct PacketRecord {
  uint16_t stream_id = 0;
  uint32_t time_stamp = 0;
  uint32_t duration = 0;
  uint32_t flags = 0;
  std::vector<uint8_t> payload;  // length L
};

class ContainerFile {
 public:
  enum class ReadResult { kPacket, kEnd, kError };

  bool OpenOwnExecutable();
  bool OpenPath(const std::string& path);
  bool OpenSource(std::unique_ptr<ByteSource> source);
  void Close();
  bool IsOpen() const { return source_ != nullptr; }
  const std::string& Error() const { return error_; }

  const Trailer& GetTrailer() const { return trailer_; }
  const std::vector<StreamDescriptor>& Streams() const { return streams_; }
  uint64_t FileSize() const { return source_ ? source_->Size() : 0; }
  uint64_t PacketDataStart() const { return packet_start_; }
  uint64_t PacketDataEnd() const { return packet_end_; }
  uint64_t Position() const { return position_; }

  // Offers every descriptor to the acceptors in order; the first that accepts
  // is configured and becomes the stream's entry, else the entry is null.
  std::vector<StreamAcceptor*> MatchStreams(const std::vector<StreamAcceptor*>& acceptors) const;

  // Reads the next packet record up to the end of packet data.
  ReadResult ReadPacket(PacketRecord* out);
  // Back to the first packet.
  void Rewind() { position_ = packet_start_; }
  // To a packet record's offset (one an index gave), within the packet data.
  void SetPosition(uint64_t offset) {
    position_ = offset < packet_start_ ? packet_start_ : offset > packet_end_ ? packet_end_ : offset;
  }

  // A stream's key packets (time stamp, record offset) in file order, from
  // the packet records' headers only; a damaged record ends the index
  // quietly (reading the packets reports it). The reading position is kept.
  struct KeyPacket {
    uint32_t time_stamp;
    uint64_t offset;
  };
  std::vector<KeyPacket> IndexKeyPackets(uint16_t stream_id);

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
