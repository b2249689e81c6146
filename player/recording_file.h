// A recording as the player and the tools read it: its streams' descriptors
// (the 72-byte media type and the format block), its duration, and its
// packets in file order. The own container is one kind; on Linux AVI,
// Windows Media, Matroska and MP4 files are read through libavformat.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

class RecordingFile {
 public:
  enum class ReadResult { kPacket, kEnd, kError };
  // A key packet: its time stamp and where reading starts to reach it (a
  // value only SetPosition understands).
  struct KeyPacket {
    uint32_t time_stamp;
    uint64_t offset;
  };

  virtual ~RecordingFile() = default;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual const std::string& Error() const = 0;
  virtual const std::vector<StreamDescriptor>& Streams() const = 0;
  // ms: the end of the longest stream.
  virtual uint32_t Duration() const = 0;
  // Reads the next packet; kEnd after the last.
  virtual ReadResult ReadPacket(PacketRecord* out) = 0;
  // Whether the last packet has been read.
  virtual bool AtEnd() const = 0;
  // Back to the first packet.
  virtual void Rewind() = 0;
  // To a key packet an index gave.
  virtual void SetPosition(uint64_t offset) = 0;
  // Where the first packet is, as SetPosition takes it.
  virtual uint64_t StartOffset() const = 0;
  // A stream's key packets in file order; the reading position is kept.
  virtual std::vector<KeyPacket> IndexKeyPackets(uint16_t stream_id) = 0;
  // What kind of file it is ("screen video container", "avi", ...).
  virtual std::string Kind() const = 0;

  // Offers every descriptor to the acceptors in order; the first that accepts
  // is configured and becomes the stream's entry, else the entry is null.
  std::vector<StreamAcceptor*> MatchStreams(const std::vector<StreamAcceptor*>& acceptors) const;
};

// Opens a recording by path (empty: the running program's own file): the own
// container (a self-playing recording or a ".kmr" file), else, where the platform reads them, another media file
// with the own codecs. Null with *error set when neither opens it.
std::unique_ptr<RecordingFile> OpenRecordingFile(const std::string& path, std::string* error);
// The same for a recording's bytes from elsewhere (a stream's reader).
class ByteSource;
std::unique_ptr<RecordingFile> OpenRecordingSource(std::shared_ptr<ByteSource> source, std::string* error);

}  // namespace kmr
