#include "recorder/outputs/media_stream.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "recorder/outputs/media_writer.h"

namespace kmr {

bool MediaStream::Open() {
  end_time_ = 0;
  return true;
}

PacketBuffer* MediaStream::AllocBuffer(uint32_t size) {
  auto* buffer = new (std::nothrow) PacketBuffer;
  if (buffer == nullptr) return nullptr;
  buffer->data = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
  if (buffer->data == nullptr) {
    delete buffer;
    return nullptr;
  }
  buffer->size = size;
  return buffer;
}

void MediaStream::FreeBuffer(PacketBuffer* buffer) {
  if (buffer == nullptr) return;
  std::free(buffer->data);
  delete buffer;
}

bool MediaStream::FillBuffer(PacketBuffer* buffer, const void* data, uint32_t size) {
  if (buffer == nullptr || data == nullptr || size == 0 || size > buffer->size) return false;
  std::memcpy(buffer->data, data, size);
  buffer->size = size;
  return true;
}

bool MediaStream::Put(const MediaPacket& p) {
  if (writer_ == nullptr) return false;
  PacketBuffer* buffer = nullptr;
  bool nothing_to_write = true;
  if (p.data != nullptr && p.size != 0) {
    nothing_to_write = false;
    buffer = AllocBuffer(p.size);
    FillBuffer(buffer, p.data, p.size);
  }
  auto* packet = new (std::nothrow) Packet{this, buffer, nothing_to_write, p.time_stamp, p.duration,
                                           p.key ? KeyFlag() : 0u};
  if (packet == nullptr) {
    FreeBuffer(buffer);
    return false;
  }
  end_time_ = p.time_stamp + p.duration;
  return writer_->Enqueue(packet);
}

void FreePacket(Packet* packet) {
  if (packet == nullptr) return;
  if (packet->buffer != nullptr && packet->stream != nullptr) packet->stream->FreeBuffer(packet->buffer);
  delete packet;
}

}  // namespace kmr
