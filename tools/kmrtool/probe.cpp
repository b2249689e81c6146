#include "tools/kmrtool/probe.h"

#include <cstdio>
#include <sstream>

namespace kmr {

ProbeReport ProbeContainer(RecordingFile* file) {
  ProbeReport report;
  report.streams.resize(file->Streams().size());
  file->Rewind();
  PacketRecord packet;
  uint32_t max_end = 0;
  for (;;) {
    const auto result = file->ReadPacket(&packet);
    if (result == RecordingFile::ReadResult::kEnd) break;
    if (result == RecordingFile::ReadResult::kError) {
      report.problem = file->Error();
      report.read_error = true;
      break;
    }
    ++report.packets;
    if (packet.stream_id >= report.streams.size()) {
      ++report.unknown_stream_packets;
      if (report.problem.empty()) {
        report.problem = "packet for stream " + std::to_string(packet.stream_id) + " beyond the " +
                         std::to_string(report.streams.size()) + " described";
      }
      continue;
    }
    StreamReport& s = report.streams[packet.stream_id];
    if (s.packets != 0 && packet.time_stamp < s.last_time_stamp && report.problem.empty()) {
      report.problem = "time stamps of stream " + std::to_string(packet.stream_id) + " go back from " +
                       std::to_string(s.last_time_stamp) + " to " + std::to_string(packet.time_stamp);
    }
    if (s.packets == 0) s.first_time_stamp = packet.time_stamp;
    ++s.packets;
    if (packet.flags & kPacketFlagKeyFrame) ++s.key_frames;
    s.bytes += packet.payload.size();
    s.last_time_stamp = packet.time_stamp;
    s.end_time = packet.time_stamp + packet.duration;
    if (s.end_time > max_end) max_end = s.end_time;
  }
  if (report.problem.empty() && file->Duration() < max_end) {
    report.problem = std::string(dynamic_cast<const ContainerFile*>(file) != nullptr ? "trailer " : "") + "duration " +
                     std::to_string(file->Duration()) +
                     " ms ends before the last packet (" + std::to_string(max_end) + " ms)";
  }
  file->Rewind();
  return report;
}

namespace {

std::string FourCcText(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((v >> (8 * i)) & 0xFF);
    s += (c >= 32 && c < 127 && c != '"' && c != '\\') ? c : '?';
  }
  return s;
}

const char* StreamKind(const StreamHeader& h) {
  if (h.major_type == kMediaTypeVideo) return "video";
  if (h.major_type == kMediaTypeAudio) return "audio";
  return "unknown";
}

}  // namespace

std::string ProbeToJson(const RecordingFile& file, const ProbeReport& report) {
  std::ostringstream o;
  o << "{\n";
  o << "  \"kind\": \"" << file.Kind() << "\",\n";
  if (const auto* own = dynamic_cast<const ContainerFile*>(&file)) {
    o << "  \"container_start\": " << own->GetTrailer().container_start << ",\n";
    o << "  \"file_size\": " << own->FileSize() << ",\n";
  }
  o << "  \"duration_ms\": " << file.Duration() << ",\n";
  o << "  \"packets\": " << report.packets << ",\n";
  o << "  \"unknown_stream_packets\": " << report.unknown_stream_packets << ",\n";
  o << "  \"streams\": [";
  for (size_t i = 0; i < file.Streams().size(); ++i) {
    const StreamDescriptor& d = file.Streams()[i];
    const StreamReport& s = report.streams[i];
    o << (i ? "," : "") << "\n    {\n";
    o << "      \"id\": " << i << ",\n";
    o << "      \"kind\": \"" << StreamKind(d.header) << "\",\n";
    o << "      \"major_type\": \"" << d.header.major_type.ToString() << "\",\n";
    o << "      \"subtype\": \"" << d.header.subtype.ToString() << "\",\n";
    o << "      \"format_type\": \"" << d.header.format_type.ToString() << "\",\n";
    o << "      \"format_size\": " << d.header.format_size << ",\n";
    VideoFormat vf;
    WaveFormatMp3 wf;
    if (d.header.format_type == kFormatVideoInfo && VideoFormat::Parse(d.format, &vf)) {
      char fps[32] = "0";
      if (vf.avg_time_per_frame > 0) {
        std::snprintf(fps, sizeof(fps), "%.3f", 10000000.0 / static_cast<double>(vf.avg_time_per_frame));
      }
      o << "      \"video\": {\"width\": " << vf.bitmap.width << ", \"height\": " << vf.bitmap.height
        << ", \"bit_count\": " << vf.bitmap.bit_count << ", \"compression\": \"" << FourCcText(vf.bitmap.compression)
        << "\", \"image_size\": " << vf.bitmap.size_image << ", \"avg_time_per_frame\": " << vf.avg_time_per_frame
        << ", \"fps\": " << fps << ", \"bit_rate\": " << vf.bit_rate
        << ", \"colour_data_size\": " << vf.colour_data.size() << "},\n";
    } else if (d.header.format_type == kFormatWaveFormatEx && WaveFormatMp3::Parse(d.format, &wf)) {
      o << "      \"audio\": {\"format_tag\": " << wf.format_tag << ", \"channels\": " << wf.channels
        << ", \"samples_per_sec\": " << wf.samples_per_sec << ", \"avg_bytes_per_sec\": " << wf.avg_bytes_per_sec
        << ", \"block_align\": " << wf.block_align << ", \"block_size\": " << wf.block_size << "},\n";
    }
    o << "      \"packets\": " << s.packets << ",\n";
    o << "      \"key_frames\": " << s.key_frames << ",\n";
    o << "      \"bytes\": " << s.bytes << ",\n";
    o << "      \"first_time_stamp\": " << s.first_time_stamp << ",\n";
    o << "      \"last_time_stamp\": " << s.last_time_stamp << ",\n";
    o << "      \"end_time\": " << s.end_time << "\n";
    o << "    }";
  }
  o << "\n  ]";
  if (!report.problem.empty()) {
    std::string p;
    for (char c : report.problem) p += (c == '"' || c == '\\') ? '\'' : c;
    o << ",\n  \"problem\": \"" << p << "\"";
  }
  o << "\n}\n";
  return o.str();
}

}  // namespace kmr
