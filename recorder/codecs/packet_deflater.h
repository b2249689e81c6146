// One packet of the lossless codec: its command stream, compressed as one
// zlib stream (what every player inflates). The encoder adds bytes as it
// makes them; Finish leaves the packet. Two implementations: libdeflate
// (where the build has it: the same size as zlib's default level at about
// 40 % of its time) and zlib, streaming, everywhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kmr {

class PacketDeflater {
 public:
  virtual ~PacketDeflater() = default;
  // A new packet; what an unfinished one held is dropped.
  virtual bool Begin() = 0;
  virtual bool Add(const uint8_t* data, size_t n) = 0;
  // Ends the stream: the packet is Data() and Size() until the next Begin.
  virtual bool Finish() = 0;
  virtual const uint8_t* Data() const = 0;
  virtual size_t Size() const = 0;
  // Frees the buffers (a recording has ended).
  virtual void Release() = 0;
};

// libdeflate where the build has it, else zlib.
std::unique_ptr<PacketDeflater> MakePacketDeflater();
std::unique_ptr<PacketDeflater> MakeZlibPacketDeflater();
// Null where the build has no libdeflate.
std::unique_ptr<PacketDeflater> MakeLibdeflatePacketDeflater();

}  // namespace kmr
