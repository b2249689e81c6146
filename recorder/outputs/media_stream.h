// Output framework: packets travel forward, from a producer (the screen video
// source, the sound recorder) through the coding stages in front of a stream
// (an installed compressor, the MP3 encoder) to the stream, which queues them
// for the writer thread to write. Producers call Put on their own threads.
#pragma once

#include <cstdint>

#include "recorder/outputs/stream_format.h"

namespace kmr {

class MediaWriter;
class MediaStream;
class ContainerStream;
class AviStream;
class WmvStream;

// The writer's side of binding a stream to the output: each writer binds the
// streams of its own format family to its file and refuses the others.
class StreamBinder {
 public:
  virtual ~StreamBinder() = default;
  virtual bool Bind(ContainerStream& /*stream*/, uint32_t /*id*/) { return false; }
  virtual bool Bind(AviStream& /*stream*/, uint32_t /*id*/) { return false; }
  virtual bool Bind(WmvStream& /*stream*/, uint32_t /*id*/) { return false; }
};

struct PacketBuffer {
  uint8_t* data = nullptr;
  uint32_t size = 0;
};

// Travels from a producer to the writer thread, which owns it once queued.
struct Packet {
  MediaStream* stream = nullptr;
  // The payload, owned by the packet and freed through the stream. Null either
  // because its allocation failed (nothing_to_write false) or because there is
  // nothing to write (nothing_to_write true).
  PacketBuffer* buffer = nullptr;
  bool nothing_to_write = false;
  uint32_t time_stamp = 0;  // ms since the start, paused time excluded
  uint32_t duration = 0;    // ms
  uint32_t flags = 0;       // format-specific key-frame flag
};

// One packet as a producer or a stage hands it on; the data is the
// producer's until Put returns.
struct MediaPacket {
  const void* data = nullptr;
  uint32_t size = 0;        // 0: nothing changed (a frame slot taken, nothing written)
  uint32_t time_stamp = 0;  // ms on the recording's time line, paused time left out
  uint32_t duration = 0;    // ms
  bool key = false;         // a key frame
  uint32_t slot = 0;        // video: the frame's slot number on the frame grid
};

// Where packets are handed: a stream, or a coding stage in front of one.
class PacketSink {
 public:
  virtual ~PacketSink() = default;
  // Hands the packet on; false when it could not be (nothing queued).
  virtual bool Put(const MediaPacket& packet) = 0;
  // The writer the packets end with: producers work while it runs.
  virtual MediaWriter* GetWriter() const = 0;
};

class MediaStream : public PacketSink {
 public:
  MediaStream() = default;
  virtual ~MediaStream() = default;
  MediaStream(const MediaStream&) = delete;
  MediaStream& operator=(const MediaStream&) = delete;

  virtual bool VariableBitRateAllowed() const { return false; }
  // Sets the end time to 0; concrete streams write their header first.
  virtual bool Open();
  virtual void Close() {}
  // A new buffer of that many bytes, or null when memory runs out.
  virtual PacketBuffer* AllocBuffer(uint32_t size);
  virtual void FreeBuffer(PacketBuffer* buffer);
  // Copies size bytes in; fails for a null buffer, null data or zero size.
  virtual bool FillBuffer(PacketBuffer* buffer, const void* data, uint32_t size);
  // Writes one packet on the writer thread: true to go on, false to stop it.
  virtual bool WritePacket(const Packet* packet) = 0;
  // Copies the data into a packet and queues it on the writer, a key
  // packet with the format's key flag.
  bool Put(const MediaPacket& packet) override;
  // The format's flag of a key packet.
  virtual uint32_t KeyFlag() const { return 0; }
  // Binds the stream to the writer's output as its stream number id: the
  // stream hands itself to the writer's Bind for its family.
  virtual bool BindTo(StreamBinder& writer, uint32_t id) = 0;

  void SetWriter(MediaWriter* writer) { writer_ = writer; }
  MediaWriter* GetWriter() const override { return writer_; }
  uint32_t GetEndTime() const { return end_time_; }

 private:
  MediaWriter* writer_ = nullptr;
  uint32_t end_time_ = 0;
};

// A video stream: attached with the own codecs' format or, where the format
// can store them, an installed compressor's.
class VideoStream : public virtual MediaStream {
 public:
  // Builds the stream's header from the format; false when it cannot be stored.
  virtual bool Attach(const OwnVideoFormat& format) = 0;
  virtual bool Attach(const CompressedVideoFormat& format) {
    (void)format;
    return false;
  }
};

// A sound stream: MP3 blocks.
class SoundStream : public virtual MediaStream {
 public:
  virtual bool Attach(const SoundFormat& format) = 0;
};

// Frees a packet and its buffer through the packet's stream.
void FreePacket(Packet* packet);

}  // namespace kmr
