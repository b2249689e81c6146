// libFuzzer target: any bytes as a recording. The reader must reject or read
// them without reading outside the input or allocating beyond its size.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "player/container_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kmr::ContainerFile file;
  if (!file.OpenSource(std::make_unique<kmr::MemoryByteSource>(data, size))) return 0;
  kmr::PacketRecord packet;
  uint64_t total = 0;
  while (file.ReadPacket(&packet) == kmr::ContainerFile::ReadResult::kPacket) {
    total += packet.payload.size();
    if (total > size) __builtin_trap();  // payloads can only come from the input
  }
  return 0;
}
