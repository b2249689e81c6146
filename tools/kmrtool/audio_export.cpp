#include "tools/kmrtool/audio_export.h"

namespace kmr {

bool ExportAudio(RecordingFile* file, AudioExport* out, std::string* error) {
  *out = AudioExport{};
  const auto& streams = file->Streams();
  size_t id = streams.size();
  for (size_t i = 0; i < streams.size(); ++i) {
    if (streams[i].header.major_type == kMediaTypeAudio && streams[i].header.subtype == kSubtypeMp3 &&
        streams[i].format.size() >= kWaveFormatMp3Size) {
      id = i;
      break;
    }
  }
  if (id == streams.size()) {
    *error = "the recording has no MP3 sound";
    return false;
  }
  const std::vector<uint8_t>& f = streams[id].format;
  out->channels = static_cast<uint16_t>(f[2] | f[3] << 8);
  out->sample_rate = static_cast<uint32_t>(f[4] | f[5] << 8 | f[6] << 16 | static_cast<uint32_t>(f[7]) << 24);
  file->Rewind();
  PacketRecord p;
  for (;;) {
    const RecordingFile::ReadResult r = file->ReadPacket(&p);
    if (r == RecordingFile::ReadResult::kEnd) break;
    if (r == RecordingFile::ReadResult::kError) {
      *error = file->Error();
      return false;
    }
    if (p.stream_id != id) continue;
    if (out->packets++ == 0) out->first_time_stamp = p.time_stamp;
    out->mp3.insert(out->mp3.end(), p.payload.begin(), p.payload.end());
  }
  return true;
}

}  // namespace kmr
