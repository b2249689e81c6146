#include "player/gst/recording_sniff.h"

#include <algorithm>
#include <cstring>

#include "shared/byte_io.h"
#include "shared/container/container_format.h"

namespace kmr {

namespace {

// A sane own container: the trailer's magic, a start inside the file and a
// stream count the recorder writes.
RecordingKind SniffOwn(const PeekBytes& peek, uint64_t size) {
  if (size < kTrailerSize + 2) return RecordingKind::kNone;
  const uint8_t* raw = peek(-static_cast<int64_t>(kTrailerSize), kTrailerSize);
  if (raw == nullptr) return RecordingKind::kNone;
  ByteReader r(raw, kTrailerSize);
  const Trailer trailer = Trailer::Read(r);
  if (trailer.magic != kTrailerMagic) return RecordingKind::kNone;
  if (static_cast<uint64_t>(trailer.container_start) + 2 > size - kTrailerSize) return RecordingKind::kNone;
  const uint8_t* count = peek(trailer.container_start, 2);
  if (count == nullptr) return RecordingKind::kNone;
  const uint32_t streams = static_cast<uint32_t>(count[0] | (count[1] << 8));
  if (streams == 0 || streams > 16) return RecordingKind::kNone;
  if (trailer.container_start == 0) return RecordingKind::kOwnContainer;
  const uint8_t* mz = peek(0, 2);
  return mz != nullptr && mz[0] == 'M' && mz[1] == 'Z' ? RecordingKind::kSelfPlaying : RecordingKind::kNone;
}

bool IsMediaContainer(const uint8_t* head) {
  static constexpr uint8_t kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
  static constexpr uint8_t kEbml[] = {0x1A, 0x45, 0xDF, 0xA3};
  return (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0) ||
         std::memcmp(head, kAsf, sizeof(kAsf)) == 0 || std::memcmp(head, kEbml, sizeof(kEbml)) == 0 ||
         std::memcmp(head + 4, "ftyp", 4) == 0;
}

// The codecs' four-character codes stand in every one of those headers (the
// bitmap header, the sample description); the headers are at the start of
// files the recorder writes.
bool HeaderNamesOwnCodec(const PeekBytes& peek, uint64_t size) {
  constexpr size_t kHeaderBytes = 65536;
  // The whole head when the length is known; else as much of it as a
  // stream has at hand.
  for (size_t n = size != 0 ? static_cast<size_t>(std::min<uint64_t>(size, kHeaderBytes)) : kHeaderBytes; n >= 16;
       n /= 4) {
    const uint8_t* head = peek(0, n);
    if (head == nullptr) continue;
    for (size_t i = 0; i + 4 <= n; ++i) {
      if ((head[i] == 'K' || head[i] == 'k') &&
          (std::memcmp(head + i, "KMRV", 4) == 0 || std::memcmp(head + i, "kmrv", 4) == 0)) {
        return true;
      }
    }
    return false;
  }
  return false;
}

}  // namespace

RecordingKind SniffRecording(const PeekBytes& peek, uint64_t size) {
  const RecordingKind own = size != 0 ? SniffOwn(peek, size) : RecordingKind::kNone;
  if (own != RecordingKind::kNone) return own;
  const uint8_t* head = peek(0, 16);
  if (head == nullptr || !IsMediaContainer(head)) return RecordingKind::kNone;
  return HeaderNamesOwnCodec(peek, size) ? RecordingKind::kMediaWithOwnCodec : RecordingKind::kNone;
}

}  // namespace kmr
