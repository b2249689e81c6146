// The AVI output: one video stream (the own codec's frames, or an installed
// compressor's) and, with sound, one MP3 stream, written through the AVI file
// library. Samples go to indices reckoned from their time stamps; the first
// frame lands at index 1 at the earliest, and frames whose stamps meet on one
// index go to consecutive indices.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "recorder/outputs/avi/avi_file.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/media_writer.h"
#include "recorder/outputs/stream_format.h"

namespace kmr {

class AviWriter : public MediaWriter {
 public:
  // The library is initialised for the writer's life. Linux also writes
  // Matroska and MP4 through the same writer, by name and extension.
  explicit AviWriter(std::unique_ptr<AviLibrary> library, const char* format_name = "Audio Video Interleaved",
                     const char* extension = "avi");
  ~AviWriter() override;

  // Deletes any file at the path, creates it, binds and opens every stream,
  // starts the writer thread.
  bool Open() override;
  // Drains the queue, closes the streams and releases the file.
  bool Close() override;
  // Creates the stream in the open file.
  bool Bind(AviStream& stream, uint32_t id) override;

 private:
  std::unique_ptr<AviLibrary> library_;
  std::unique_ptr<AviFile> file_;
};

// What the AVI video and sound streams share: the file's stream and its
// sample indices.
class AviStream : public virtual MediaStream {
 public:
  // Succeeds only when the file and the created stream exist.
  bool Open() override;
  // Releases the created stream.
  void Close() override;
  bool BindTo(StreamBinder& writer, uint32_t id) override { return writer.Bind(*this, id); }
  // Stores the file the writer opened and creates the stream in it.
  virtual bool Bind(AviFile* file, uint32_t id);

  const AviStreamInfo& Info() const { return info_; }
  const std::vector<uint8_t>& Format() const { return format_; }

 protected:
  // Creates the stream from info_ and sets format_ on it.
  bool CreateStream();
  // The video streams' write: the index from the time stamp at the stream's
  // rate, at least one past the last one written; every slot (also one in
  // which nothing changed) is noted for the end marker.
  bool WriteVideoPacket(const Packet* packet);
  // A frame slot was taken at slot_ms (also when nothing changed).
  void NoteSlot(uint32_t slot_ms) {
    last_slot_ms_ = slot_ms;
    slot_taken_ = true;
  }
  // A recording whose last frames changed nothing still lasts to its last
  // slot: an empty sample there (players repeat the frame before it).
  void WriteEndMarker();
  bool HasStream() const { return stream_ != nullptr; }
  AviFileStream* Stream() const { return stream_.get(); }

  AviFile* file_ = nullptr;
  AviStreamInfo info_;
  std::vector<uint8_t> format_;
  uint32_t last_index_ = 0;
  uint32_t last_slot_ms_ = 0;
  bool slot_taken_ = false;
  bool zero_written_ = false;

 private:
  std::unique_ptr<AviFileStream> stream_;
};

// The video: the own screen codec's frames or an installed compressor's.
class AviVideoStream : public AviStream, public VideoStream {
 public:
  bool VariableBitRateAllowed() const override { return true; }
  // The own codecs' frames: the format is the bitmap info header and colour
  // data (the container's video format without the first 48 bytes), at
  // their frame rate.
  bool Attach(const OwnVideoFormat& format) override;
  // A compressor's whose output format is at least 40 bytes: that format, at
  // the compressor's scale and rate.
  bool Attach(const CompressedVideoFormat& format) override;
  bool Bind(AviFile* file, uint32_t id) override;
  bool Open() override;
  void Close() override;
  bool WritePacket(const Packet* packet) override { return WriteVideoPacket(packet); }
  uint32_t KeyFlag() const override { return kAviKeyFrame; }

 private:
  uint32_t scale_ = 1;
  uint32_t rate_ = 0;
};

// MP3 sound at a constant bit rate: one sample is one byte.
class AviAudioStream : public AviStream, public SoundStream {
 private:
  bool first_ = true;
  uint64_t written_ = 0;  // bytes

 public:
  bool Open() override;
  // The packets are coded MP3 blocks.
  bool Attach(const SoundFormat& format) override;
  bool Bind(AviFile* file, uint32_t id) override;
  // Appends the packet's bytes after the stream's last sample; before the
  // first, silence up to its time stamp.
  bool WritePacket(const Packet* packet) override;
};

// The bitmap info header of a video format block's compression code and
// sizes (bytes 16..19, 4..11, 20..23).
uint32_t BitmapCompression(const std::vector<uint8_t>& bitmap_info);

}  // namespace kmr
