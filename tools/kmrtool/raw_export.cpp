#include "tools/kmrtool/raw_export.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "player/codecs/frame_decoder.h"
#include "shared/container/container_format.h"

namespace kmr {

namespace {
uint32_t SlotTime(uint64_t n, uint32_t fps) { return static_cast<uint32_t>((n * 1000 + fps / 2) / fps); }
}  // namespace

bool ExportRawFrames(RecordingFile* file, RawVideoInfo* info,
                     const std::function<bool(uint32_t, const std::vector<uint8_t>&)>& frame, std::string* error) {
  int stream = -1;
  VideoFormat format;
  for (size_t i = 0; i < file->Streams().size(); ++i) {
    const StreamDescriptor& d = file->Streams()[i];
    if (d.header.major_type == kMediaTypeVideo && d.header.subtype == kSubtypeScreenVideo &&
        VideoFormat::Parse(d.format, &format)) {
      stream = static_cast<int>(i);
      break;
    }
  }
  if (stream < 0) {
    *error = "no screen video stream in the recording";
    return false;
  }
  std::string why;
  if (!CheckScreenVideoFormat(format, &why)) {
    *error = "the video format is damaged: " + why;
    return false;
  }
  const uint32_t bits = format.bitmap.bit_count;
  info->width = format.bitmap.width;
  info->height = format.bitmap.height < 0 ? -format.bitmap.height : format.bitmap.height;
  info->bits = bits;
  info->fps = FramesPerSecond(format);
  if (bits == 16 && format.colour_data.size() >= 12) {
    for (int i = 0; i < 3; ++i) info->colour_masks[i] = LoadU32(&format.colour_data[i * 4]);
  }
  info->palette.clear();
  if (bits == 8) {
    info->palette.assign(1024, 0);
    std::copy_n(format.colour_data.begin(), std::min<size_t>(1024, format.colour_data.size()), info->palette.begin());
  }

  std::unique_ptr<FrameDecoder> decoder = MakeFrameDecoder(format.bitmap.compression, error);
  if (decoder == nullptr) return false;
  const uint32_t bpp = bits / 8;
  const uint32_t image = format.bitmap.size_image;
  uint32_t stride = info->height > 0 && image != 0 ? image / static_cast<uint32_t>(info->height) : 0;
  if (!decoder->SetFormat(info->width, info->height, bpp, stride)) {
    *error = decoder->Error();
    return false;
  }
  std::vector<uint8_t> rows;
  try {
    rows.resize(static_cast<size_t>(info->width) * static_cast<size_t>(info->height) * bpp);
  } catch (const std::bad_alloc&) {
    *error = "out of memory for the frame";
    return false;
  }
  const size_t row = static_cast<size_t>(info->width) * bpp;
  auto fill_rows = [&] {
    const PlaneView& p = decoder->Picture();
    for (int32_t y = 0; y < info->height; ++y) std::memcpy(&rows[y * row], p.At(0, y), row);
  };
  fill_rows();

  uint64_t slot = 0;
  bool seen = false;
  uint32_t last_stamp = 0;
  PacketRecord packet;
  file->Rewind();
  for (;;) {
    const auto r = file->ReadPacket(&packet);
    if (r == RecordingFile::ReadResult::kError) {
      *error = file->Error();
      return false;
    }
    if (r == RecordingFile::ReadResult::kEnd) break;
    if (packet.stream_id != stream) continue;
    // Damaged time fields would turn into any number of frames.
    if (packet.time_stamp > file->Duration()) {
      *error = "the packet at " + std::to_string(packet.time_stamp) + " ms lies past the end (" +
               std::to_string(file->Duration()) + " ms)";
      return false;
    }
    if (seen && packet.time_stamp < last_stamp) {
      *error = "the time stamps go back from " + std::to_string(last_stamp) + " to " +
               std::to_string(packet.time_stamp) + " ms";
      return false;
    }
    seen = true;
    last_stamp = packet.time_stamp;
    while (SlotTime(slot, info->fps) < packet.time_stamp) {
      if (!frame(static_cast<uint32_t>(slot), rows)) return true;
      ++slot;
    }
    if (!decoder->Decode(packet.payload.data(), packet.payload.size(), nullptr)) {
      *error = "packet at " + std::to_string(packet.time_stamp) + " ms: " + decoder->Error();
      return false;
    }
    fill_rows();
    if (!frame(static_cast<uint32_t>(slot), rows)) return true;
    ++slot;
  }
  while (SlotTime(slot, info->fps) < file->Duration()) {
    if (!frame(static_cast<uint32_t>(slot), rows)) return true;
    ++slot;
  }
  return true;
}

bool ExportFrame(RecordingFile* file, uint32_t slot, RawVideoInfo* info, std::vector<uint8_t>* rows,
                 std::string* error) {
  bool found = false;
  const bool ok = ExportRawFrames(file, info, [&](uint32_t n, const std::vector<uint8_t>& frame) {
    if (n == slot || slot == kLastSlot) {
      *rows = frame;
      found = true;
    }
    return n != slot;
  }, error);
  if (ok && !found) *error = "the recording has no frame " + std::to_string(slot);
  return ok && found;
}

bool CheckPlayable(RecordingFile* file, std::string* problem) {
  bool video = false;
  for (size_t i = 0; i < file->Streams().size(); ++i) {
    const StreamDescriptor& d = file->Streams()[i];
    if (d.header.major_type == kMediaTypeVideo) {
      VideoFormat f;
      std::string why;
      if (d.header.subtype != kSubtypeScreenVideo || d.header.format_type != kFormatVideoInfo) {
        *problem = "stream " + std::to_string(i) + " is video the player cannot decode";
        return false;
      }
      if (!VideoFormat::Parse(d.format, &f) || !CheckScreenVideoFormat(f, &why)) {
        *problem = "the video format of stream " + std::to_string(i) + " is damaged: " +
                   (why.empty() ? std::string("too short") : why);
        return false;
      }
      video = true;
    } else if (d.header.major_type == kMediaTypeAudio) {
      WaveFormatMp3 w;
      if (d.header.subtype != kSubtypeMp3 || !WaveFormatMp3::Parse(d.format, &w) || w.channels == 0 ||
          w.samples_per_sec == 0) {
        *problem = "the audio format of stream " + std::to_string(i) + " is damaged";
        return false;
      }
    } else {
      *problem = "stream " + std::to_string(i) + " is of a kind the player does not know";
      return false;
    }
  }
  if (!video) return true;
  // Every video packet decodes: a frame sink that takes nothing still makes
  // the exporter decode them all.
  RawVideoInfo info;
  std::string error;
  uint64_t last_slot = 0;
  const bool ok = ExportRawFrames(file, &info, [&](uint32_t slot, const std::vector<uint8_t>&) {
    last_slot = slot;
    return true;
  }, &error);
  (void)last_slot;
  if (!ok) *problem = error;
  return ok;
}

}  // namespace kmr
