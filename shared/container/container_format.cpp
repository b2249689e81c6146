#include "shared/container/container_format.h"
#include "shared/container/own_codec_info.h"

#include <algorithm>

#include <cstdio>

namespace kmr {

namespace {
constexpr std::array<uint8_t, 8> kFourCcTail = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::array<uint8_t, 8> kFormatTail = {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A};
}  // namespace

Guid FourCcGuid(uint32_t fourcc) { return Guid{fourcc, 0x0000, 0x0010, kFourCcTail}; }

const Guid kMediaTypeVideo = FourCcGuid(FourCc('v', 'i', 'd', 's'));
const Guid kMediaTypeAudio = FourCcGuid(FourCc('a', 'u', 'd', 's'));
const Guid kSubtypeScreenVideo = FourCcGuid(kFourCcLossless);
const Guid kSubtypeMp3 = FourCcGuid(kWaveFormatMpegLayer3);
const Guid kFormatVideoInfo = Guid{0x05589F80, 0xC356, 0x11CE, kFormatTail};
const Guid kFormatWaveFormatEx = Guid{0x05589F81, 0xC356, 0x11CE, kFormatTail};

std::string Guid::ToString() const {
  char buf[40];
  std::snprintf(buf, sizeof(buf), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
  return buf;
}

void WriteGuid(ByteWriter& w, const Guid& g) {
  w.U32(g.data1);
  w.U16(g.data2);
  w.U16(g.data3);
  w.Bytes(g.data4.data(), g.data4.size());
}

Guid ReadGuid(ByteReader& r) {
  Guid g;
  g.data1 = r.U32();
  g.data2 = r.U16();
  g.data3 = r.U16();
  r.Bytes(g.data4.data(), g.data4.size());
  return g;
}

void StreamHeader::Write(ByteWriter& w) const {
  WriteGuid(w, major_type);
  WriteGuid(w, subtype);
  w.U32(fixed_size_samples);
  w.U32(temporal_compression);
  w.U32(sample_size);
  WriteGuid(w, format_type);
  w.U32(interface_pointer);
  w.U32(format_size);
  w.U32(format_pointer);
}

StreamHeader StreamHeader::Read(ByteReader& r) {
  StreamHeader h;
  h.major_type = ReadGuid(r);
  h.subtype = ReadGuid(r);
  h.fixed_size_samples = r.U32();
  h.temporal_compression = r.U32();
  h.sample_size = r.U32();
  h.format_type = ReadGuid(r);
  h.interface_pointer = r.U32();
  h.format_size = r.U32();
  h.format_pointer = r.U32();
  return h;
}

void BitmapInfoHeader::Write(ByteWriter& w) const {
  w.U32(size);
  w.I32(width);
  w.I32(height);
  w.U16(planes);
  w.U16(bit_count);
  w.U32(compression);
  w.U32(size_image);
  w.I32(x_pels_per_meter);
  w.I32(y_pels_per_meter);
  w.U32(clr_used);
  w.U32(clr_important);
}

BitmapInfoHeader BitmapInfoHeader::Read(ByteReader& r) {
  BitmapInfoHeader b;
  b.size = r.U32();
  b.width = r.I32();
  b.height = r.I32();
  b.planes = r.U16();
  b.bit_count = r.U16();
  b.compression = r.U32();
  b.size_image = r.U32();
  b.x_pels_per_meter = r.I32();
  b.y_pels_per_meter = r.I32();
  b.clr_used = r.U32();
  b.clr_important = r.U32();
  return b;
}

size_t ColourDataSize(uint32_t bit_count) {
  if (bit_count == 8) return 256;
  if (bit_count == 16) return 12;
  return 0;
}

std::vector<uint8_t> VideoFormat::Serialize() const {
  std::vector<uint8_t> out;
  out.reserve(kVideoInfoHeaderSize + colour_data.size());
  ByteWriter w(&out);
  w.Zeros(32);  // source and target rectangles
  w.U32(bit_rate);
  w.U32(bit_error_rate);
  w.I64(avg_time_per_frame);
  bitmap.Write(w);
  w.Bytes(colour_data.data(), colour_data.size());
  return out;
}

bool VideoFormat::Parse(const std::vector<uint8_t>& block, VideoFormat* out) {
  if (block.size() < kVideoInfoHeaderSize) return false;
  ByteReader r(block);
  r.Skip(32);
  out->bit_rate = r.U32();
  out->bit_error_rate = r.U32();
  out->avg_time_per_frame = r.I64();
  out->bitmap = BitmapInfoHeader::Read(r);
  out->colour_data.assign(block.begin() + kVideoInfoHeaderSize, block.end());
  return r.ok();
}

std::vector<uint8_t> WaveFormatMp3::Serialize() const {
  std::vector<uint8_t> out;
  ByteWriter w(&out);
  w.U16(format_tag);
  w.U16(channels);
  w.U32(samples_per_sec);
  w.U32(avg_bytes_per_sec);
  w.U16(block_align);
  w.U16(bits_per_sample);
  w.U16(cb_size);
  w.U16(id);
  w.U32(flags);
  w.U16(block_size);
  w.U16(frames_per_block);
  w.U16(codec_delay);
  return out;
}

bool WaveFormatMp3::Parse(const std::vector<uint8_t>& block, WaveFormatMp3* out) {
  if (block.size() < kWaveFormatMp3Size) return false;
  ByteReader r(block);
  out->format_tag = r.U16();
  out->channels = r.U16();
  out->samples_per_sec = r.U32();
  out->avg_bytes_per_sec = r.U32();
  out->block_align = r.U16();
  out->bits_per_sample = r.U16();
  out->cb_size = r.U16();
  out->id = r.U16();
  out->flags = r.U32();
  out->block_size = r.U16();
  out->frames_per_block = r.U16();
  out->codec_delay = r.U16();
  return r.ok();
}

void PacketRecordHeader::Write(ByteWriter& w) const {
  w.U16(stream_id);
  w.U32(time_stamp);
  w.U32(duration);
  w.U32(flags);
  w.U32(length);
}

PacketRecordHeader PacketRecordHeader::Read(ByteReader& r) {
  PacketRecordHeader p;
  p.stream_id = r.U16();
  p.time_stamp = r.U32();
  p.duration = r.U32();
  p.flags = r.U32();
  p.length = r.U32();
  return p;
}

void Trailer::Write(ByteWriter& w) const {
  w.U32(duration);
  w.U32(container_start);
  w.U32(magic);
}

Trailer Trailer::Read(ByteReader& r) {
  Trailer t;
  t.duration = r.U32();
  t.container_start = r.U32();
  t.magic = r.U32();
  return t;
}

bool CheckScreenVideoFormat(const VideoFormat& f, std::string* why) {
  const BitmapInfoHeader& b = f.bitmap;
  if (!IsOwnFourCc(b.compression)) {
    *why = "not a screen video format";
    return false;
  }
  if (b.bit_count != 8 && b.bit_count != 16 && b.bit_count != 24 && b.bit_count != 32) {
    *why = "unsupported bit depth " + std::to_string(b.bit_count);
    return false;
  }
  const int64_t w = b.width, h = b.height < 0 ? -static_cast<int64_t>(b.height) : b.height;
  if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide ||
      static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > kMaxFramePixels) {
    *why = "frame size " + std::to_string(b.width) + " x " + std::to_string(b.height) + " is not one a recording has";
    return false;
  }
  // 10,000,000 / fps in 100-ns units, for 1 to 1000 frames per second.
  if (f.avg_time_per_frame < 10000000 / kMaxFps || f.avg_time_per_frame > 10000000 / kMinFps) {
    *why = "time per frame " + std::to_string(f.avg_time_per_frame) + " is outside 1 to 1000 frames per second";
    return false;
  }
  return true;
}

uint32_t FramesPerSecond(const VideoFormat& f) {
  if (f.avg_time_per_frame <= 0) return kMinFps;
  const int64_t fps = (10000000 + f.avg_time_per_frame / 2) / f.avg_time_per_frame;
  return static_cast<uint32_t>(std::clamp<int64_t>(fps, kMinFps, kMaxFps));
}

}  // namespace kmr
