#include "tools/kmrtool/repair.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <vector>

#include "player/byte_source.h"
#include "recorder/outputs/container/output_file.h"
#include "shared/container/container_format.h"

namespace kmr {

namespace {

constexpr uint32_t kMaxStreams = 16;
constexpr uint32_t kMaxFormatSize = 4096;
constexpr size_t kScanChunk = 1 << 20;

std::array<uint8_t, 16> GuidBytes(const Guid& g) {
  std::vector<uint8_t> bytes;
  ByteWriter w(&bytes);
  WriteGuid(w, g);
  std::array<uint8_t, 16> a{};
  std::copy_n(bytes.begin(), 16, a.begin());
  return a;
}

// The descriptors at start, as the recorder writes them; the offset of the
// first packet, or 0 when they are not there.
uint64_t ParseDescriptors(ByteSource* src, uint64_t start, uint64_t end, uint32_t* count_out) {
  uint8_t raw[2];
  if (start + 2 > end || !src->ReadAt(start, raw, 2)) return 0;
  const uint32_t count = static_cast<uint32_t>(raw[0] | (raw[1] << 8));
  if (count == 0 || count > kMaxStreams) return 0;
  uint64_t pos = start + 2;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t head[kStreamHeaderSize];
    if (pos + kStreamHeaderSize > end || !src->ReadAt(pos, head, sizeof(head))) return 0;
    ByteReader r(head, sizeof(head));
    const StreamHeader h = StreamHeader::Read(r);
    const bool video = h.major_type == kMediaTypeVideo && h.format_type == kFormatVideoInfo &&
                       h.format_size >= kVideoInfoHeaderSize;
    const bool audio = h.major_type == kMediaTypeAudio && h.format_type == kFormatWaveFormatEx;
    if ((!video && !audio) || h.fixed_size_samples != 0 || h.temporal_compression != 1 || h.sample_size != 0 ||
        h.interface_pointer != 0 || h.format_size > kMaxFormatSize) {
      return 0;
    }
    pos += kStreamHeaderSize + h.format_size;
    if (pos > end) return 0;
  }
  *count_out = count;
  return pos;
}

struct PacketWalk {
  uint64_t end = 0;  // after the last whole packet
  uint64_t packets = 0;
  uint32_t duration = 0;
};

// Whole, well-formed packets from pos on; stops at the first that is not.
PacketWalk WalkPackets(ByteSource* src, uint64_t pos, uint64_t end, uint32_t streams) {
  PacketWalk walk;
  walk.end = pos;
  std::vector<uint32_t> last(streams, 0);
  std::vector<bool> seen(streams, false);
  while (pos + kPacketRecordHeaderSize <= end) {
    uint8_t raw[kPacketRecordHeaderSize];
    if (!src->ReadAt(pos, raw, sizeof(raw))) break;
    ByteReader r(raw, sizeof(raw));
    const PacketRecordHeader h = PacketRecordHeader::Read(r);
    if (h.stream_id >= streams || h.length == 0) break;
    if (h.length > end - pos - kPacketRecordHeaderSize) break;  // torn
    if (seen[h.stream_id] && h.time_stamp < last[h.stream_id]) break;
    if (static_cast<uint64_t>(h.time_stamp) + h.duration > 0xFFFFFFFFull) break;
    seen[h.stream_id] = true;
    last[h.stream_id] = h.time_stamp;
    walk.duration = std::max(walk.duration, h.time_stamp + h.duration);
    pos += kPacketRecordHeaderSize + h.length;
    walk.end = pos;
    ++walk.packets;
  }
  return walk;
}

// Offsets where a container's stream count could stand: two bytes before a
// video or audio major-type GUID.
std::vector<uint64_t> Candidates(ByteSource* src, uint64_t end) {
  const auto vids = GuidBytes(kMediaTypeVideo);
  const auto auds = GuidBytes(kMediaTypeAudio);
  std::vector<uint64_t> found;
  std::vector<uint8_t> chunk;
  for (uint64_t at = 0; at < end; at += kScanChunk) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kScanChunk + 15, end - at));
    chunk.resize(n);
    if (!src->ReadAt(at, chunk.data(), n)) break;
    for (const auto* g : {&vids, &auds}) {
      for (auto it = chunk.begin();;) {
        it = std::search(it, chunk.end(), g->begin(), g->end());
        if (it == chunk.end()) break;
        const uint64_t pos = at + static_cast<uint64_t>(it - chunk.begin());
        if (pos >= 2 && pos - at < kScanChunk) found.push_back(pos - 2);
        ++it;
      }
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

}  // namespace

bool RepairRecording(const std::string& in, const std::string& out, RepairReport* report, std::string* error) {
  *report = RepairReport{};
  std::error_code ec;
  if (std::filesystem::exists(out, ec) && std::filesystem::equivalent(in, out, ec)) {
    *error = "the repaired recording must go to another file";
    return false;
  }
  std::unique_ptr<FileByteSource> src = FileByteSource::Open(in);
  if (!src) {
    *error = "cannot open " + in;
    return false;
  }
  const uint64_t size = src->Size();
  if (size >= kMaxContainerFilePosition) {
    *error = "the file is larger than any recording";
    return false;
  }
  // A trailer that is there names the container; without one, the
  // descriptors are looked for.
  std::vector<uint64_t> starts;
  uint64_t end = size;
  if (size >= kTrailerSize) {
    uint8_t raw[kTrailerSize];
    if (src->ReadAt(size - kTrailerSize, raw, sizeof(raw))) {
      ByteReader r(raw, sizeof(raw));
      const Trailer t = Trailer::Read(r);
      if (t.magic == kTrailerMagic && t.container_start < size - kTrailerSize) {
        starts.push_back(t.container_start);
        end = size - kTrailerSize;
      }
    }
  }
  if (starts.empty()) starts = Candidates(src.get(), size);
  uint64_t start = 0, first_packet = 0;
  uint32_t streams = 0;
  for (uint64_t s : starts) {
    first_packet = ParseDescriptors(src.get(), s, end, &streams);
    if (first_packet != 0) {
      start = s;
      break;
    }
  }
  if (first_packet == 0) {
    *error = "no recording's stream descriptors were found in " + in;
    return false;
  }
  const PacketWalk walk = WalkPackets(src.get(), first_packet, end, streams);

  std::string cause;
  std::unique_ptr<StdioOutputFile> f = StdioOutputFile::Open(out, "wb", &cause);
  if (!f) {
    *error = "cannot write " + out + ": " + cause;
    return false;
  }
  std::vector<uint8_t> chunk(kScanChunk);
  bool ok = true;
  for (uint64_t at = 0; ok && at < walk.end; at += chunk.size()) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), walk.end - at));
    ok = src->ReadAt(at, chunk.data(), n) && f->Write(chunk.data(), n);
  }
  std::vector<uint8_t> trailer;
  ByteWriter w(&trailer);
  Trailer{walk.duration, static_cast<uint32_t>(start), kTrailerMagic}.Write(w);
  ok = ok && f->Write(trailer.data(), trailer.size());
  ok = f->Close() && ok;
  if (!ok) {
    *error = "writing " + out + " failed: " + (f->Failed() ? f->Error() : std::string("cannot read ") + in);
    return false;
  }
  // A repaired self-playing recording still runs.
  std::filesystem::permissions(out, std::filesystem::status(in, ec).permissions(), ec);
  report->container_start = start;
  report->streams = streams;
  report->packets = walk.packets;
  report->bytes_dropped = end - walk.end;
  report->duration = walk.duration;
  return true;
}

}  // namespace kmr
