#include "player/container_file.h"

#include <new>

#include "platform/system/system.h"

namespace kmr {

bool ContainerFile::Fail(const std::string& message) {
  error_ = message;
  source_.reset();
  streams_.clear();
  return false;
}

void ContainerFile::Close() {
  source_.reset();
  streams_.clear();
  position_ = packet_start_ = packet_end_ = 0;
}

bool ContainerFile::OpenOwnExecutable() {
  const std::string self = platform::ModuleFileName();
  if (self.empty()) return Fail("cannot find the program's own file");
  return OpenPath(self);
}

bool ContainerFile::OpenPath(const std::string& path) {
  Close();
  auto source = FileByteSource::Open(path);
  if (!source) return Fail("cannot open " + path);
  return OpenSource(std::move(source));
}

bool ContainerFile::OpenSource(std::unique_ptr<ByteSource> source) {
  Close();
  error_.clear();
  source_ = std::move(source);
  if (!source_) return Fail("no input");
  return Parse();
}

bool ContainerFile::Parse() {
  const uint64_t size = source_->Size();
  if (size < kTrailerSize + 2) return Fail("file too short to hold a recording");
  uint8_t raw[kTrailerSize];
  if (!source_->ReadAt(size - kTrailerSize, raw, sizeof(raw))) return Fail("cannot read the trailer");
  ByteReader tr(raw, sizeof(raw));
  trailer_ = Trailer::Read(tr);
  if (trailer_.magic != kTrailerMagic) return Fail("not a recording: no trailer magic at the end of the file");
  packet_end_ = size - kTrailerSize;
  const uint64_t start = trailer_.container_start;
  if (start + 2 > packet_end_) return Fail("container start lies beyond the end of the file");

  uint8_t count_raw[2];
  if (!source_->ReadAt(start, count_raw, 2)) return Fail("cannot read the stream count");
  const uint32_t count = static_cast<uint32_t>(count_raw[0] | (count_raw[1] << 8));
  if (count == 0) return Fail("the recording has no stream");
  if (trailer_.duration > kMaxRecordingMs) {
    return Fail("the trailer's duration of " + std::to_string(trailer_.duration) + " ms is longer than any recording");
  }
  uint64_t pos = start + 2;
  if (static_cast<uint64_t>(count) * kStreamHeaderSize > packet_end_ - pos) {
    return Fail("stream count " + std::to_string(count) + " does not fit in the file");
  }
  streams_.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t head[kStreamHeaderSize];
    if (packet_end_ - pos < kStreamHeaderSize || !source_->ReadAt(pos, head, sizeof(head))) {
      return Fail("stream descriptor " + std::to_string(i) + " is truncated");
    }
    pos += kStreamHeaderSize;
    ByteReader hr(head, sizeof(head));
    StreamDescriptor d;
    d.header = StreamHeader::Read(hr);
    if (d.header.format_size > packet_end_ - pos) {
      return Fail("format block of stream " + std::to_string(i) + " runs past the end of the file");
    }
    try {
      d.format.resize(d.header.format_size);
    } catch (const std::bad_alloc&) {
      return Fail("out of memory reading stream descriptors");
    }
    if (d.header.format_size != 0 && !source_->ReadAt(pos, d.format.data(), d.format.size())) {
      return Fail("cannot read the format block of stream " + std::to_string(i));
    }
    pos += d.header.format_size;
    streams_.push_back(std::move(d));
  }
  packet_start_ = position_ = pos;
  return true;
}

std::vector<StreamAcceptor*> RecordingFile::MatchStreams(const std::vector<StreamAcceptor*>& acceptors) const {
  const std::vector<StreamDescriptor>& streams = Streams();
  std::vector<StreamAcceptor*> active(streams.size(), nullptr);
  for (size_t i = 0; i < streams.size(); ++i) {
    for (StreamAcceptor* a : acceptors) {
      if (a != nullptr && a->Accept(streams[i].header)) {
        if (a->Configure(streams[i].header, streams[i].format)) active[i] = a;
        break;
      }
    }
  }
  return active;
}

ContainerFile::ReadResult ContainerFile::ReadPacket(PacketRecord* out) {
  if (!source_) {
    error_ = "no recording is open";
    return ReadResult::kError;
  }
  if (position_ >= packet_end_) return ReadResult::kEnd;
  if (packet_end_ - position_ < kPacketRecordHeaderSize) {
    error_ = "truncated packet record at offset " + std::to_string(position_);
    return ReadResult::kError;
  }
  uint8_t head[kPacketRecordHeaderSize];
  if (!source_->ReadAt(position_, head, sizeof(head))) {
    error_ = "cannot read the packet record at offset " + std::to_string(position_);
    return ReadResult::kError;
  }
  ByteReader r(head, sizeof(head));
  const PacketRecordHeader h = PacketRecordHeader::Read(r);
  const uint64_t body = position_ + kPacketRecordHeaderSize;
  if (h.length > packet_end_ - body) {
    error_ = "packet at offset " + std::to_string(position_) + " runs past the end of packet data";
    return ReadResult::kError;
  }
  out->stream_id = h.stream_id;
  out->time_stamp = h.time_stamp;
  out->duration = h.duration;
  out->flags = h.flags;
  try {
    out->payload.resize(h.length);
  } catch (const std::bad_alloc&) {
    error_ = "out of memory reading a packet";
    return ReadResult::kError;
  }
  if (h.length != 0 && !source_->ReadAt(body, out->payload.data(), h.length)) {
    error_ = "cannot read the packet at offset " + std::to_string(position_);
    return ReadResult::kError;
  }
  position_ = body + h.length;
  return ReadResult::kPacket;
}

std::vector<ContainerFile::KeyPacket> ContainerFile::IndexKeyPackets(uint16_t stream_id) {
  std::vector<KeyPacket> keys;
  if (!source_) return keys;
  for (uint64_t at = packet_start_; at < packet_end_;) {
    uint8_t head[kPacketRecordHeaderSize];
    if (packet_end_ - at < kPacketRecordHeaderSize || !source_->ReadAt(at, head, sizeof(head))) break;
    ByteReader r(head, sizeof(head));
    const PacketRecordHeader h = PacketRecordHeader::Read(r);
    const uint64_t body = at + kPacketRecordHeaderSize;
    if (h.length > packet_end_ - body) break;
    if (h.stream_id == stream_id && (h.flags & kPacketFlagKeyFrame) != 0) keys.push_back(KeyPacket{h.time_stamp, at});
    at = body + h.length;
  }
  return keys;
}

}  // namespace kmr
