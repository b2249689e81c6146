// libFuzzer target: any bytes as a recording. The reader must reject or read
// them without reading outside the input or allocating beyond its size, and
// the player's video decoder, configured from the stream formats as the
// player does it, must refuse or decode the first packets safely.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "player/container_file.h"
#include "player/video_renderer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kmr::ContainerFile file;
  if (!file.OpenSource(std::make_unique<kmr::MemoryByteSource>(data, size))) return 0;
  kmr::VideoRenderer video;
  const std::vector<kmr::StreamAcceptor*> active = file.MatchStreams({&video});
  kmr::PacketRecord packet;
  uint64_t total = 0;
  int decoded = 0;
  while (file.ReadPacket(&packet) == kmr::ContainerFile::ReadResult::kPacket) {
    total += packet.payload.size();
    if (total > size) __builtin_trap();  // payloads can only come from the input
    if (decoded < 16 && packet.stream_id < active.size() && active[packet.stream_id] != nullptr) {
      kmr::PlayerPacket p{packet.time_stamp, packet.duration, packet.flags, std::move(packet.payload)};
      video.Present(&p);
      ++decoded;
    }
  }
  return 0;
}
