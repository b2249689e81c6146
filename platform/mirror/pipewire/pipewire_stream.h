// The screen-cast stream through libpipewire: a connection over the file
// descriptor the portal handed out, a stream from the portal's node
// negotiated for 32-bit BGRx/BGRA pictures in memory (plain or shared),
// with the damaged regions and the pointer as metadata where the desktop
// sends them. Each buffer is posted into the mirror's mailbox on
// PipeWire's own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/mirror/stream/stream_mirror.h"

struct spa_buffer;

namespace kmr::platform {

// The metadata of one buffer, read with every size and offset checked
// against the memory it lies in (it is the desktop's to write).
// damage: the regions (clipped to the picture; none read = the desktop did
// not say, or said nothing changed). False for "no damage known".
bool ReadDamageRegions(const void* meta, size_t meta_size, int32_t width, int32_t height, std::vector<Rect>* damage);
// The pointer: false when the metadata holds no pointer update.
bool ReadPointerMeta(const void* meta, size_t meta_size, StreamPointer* pointer);

class PipeWireScreenStream : public ScreenStream {
 public:
  // fd: the portal's PipeWire connection (duplicated here; the caller keeps
  // its own). node: the stream's node.
  PipeWireScreenStream(int fd, uint32_t node);
  ~PipeWireScreenStream() override;

  bool Start(FrameMailbox* mailbox, std::string* why) override;
  void Stop() override;

  // Frames posted and buffers that carried damage (for the log and tests).
  uint64_t Pictures() const;
  uint64_t DamagedPictures() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kmr::platform
