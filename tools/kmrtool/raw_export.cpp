#include "tools/kmrtool/raw_export.h"

#include <cmath>
#include <cstring>

#include "player/codecs/lossless_decoder.h"
#include "shared/container/container_format.h"

namespace kmr {

namespace {
uint32_t SlotTime(uint64_t n, uint32_t fps) { return static_cast<uint32_t>((n * 1000 + fps / 2) / fps); }
}  // namespace

bool ExportRawFrames(ContainerFile* file, RawVideoInfo* info,
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
  if (format.bitmap.compression != kFourCcLossless) {
    *error = "only lossless screen video can be exported";
    return false;
  }
  const uint32_t bits = format.bitmap.bit_count;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    *error = "unsupported bit depth " + std::to_string(bits);
    return false;
  }
  if (format.avg_time_per_frame <= 0) {
    *error = "the video format has no frame rate";
    return false;
  }
  info->width = format.bitmap.width < 0 ? -format.bitmap.width : format.bitmap.width;
  info->height = format.bitmap.height < 0 ? -format.bitmap.height : format.bitmap.height;
  info->bits = bits;
  const double fps = 1e7 / static_cast<double>(format.avg_time_per_frame);
  info->fps = static_cast<uint32_t>(std::lround(fps));
  if (info->fps == 0) info->fps = 1;
  if (bits == 16 && format.colour_data.size() >= 12) {
    for (int i = 0; i < 3; ++i) info->colour_masks[i] = LoadU32(&format.colour_data[i * 4]);
  }

  LosslessDecoder decoder;
  const uint32_t bpp = bits / 8;
  const uint32_t image = format.bitmap.size_image;
  uint32_t stride = info->height > 0 && image != 0 ? image / static_cast<uint32_t>(info->height) : 0;
  if (!decoder.SetFormat(info->width, info->height, bpp, stride)) {
    *error = decoder.Error();
    return false;
  }
  std::vector<uint8_t> rows(static_cast<size_t>(info->width) * info->height * bpp);
  const size_t row = static_cast<size_t>(info->width) * bpp;
  auto fill_rows = [&] {
    const PlaneView& p = decoder.Picture();
    for (int32_t y = 0; y < info->height; ++y) std::memcpy(&rows[y * row], p.At(0, y), row);
  };
  fill_rows();

  uint64_t slot = 0;
  PacketRecord packet;
  file->Rewind();
  for (;;) {
    const auto r = file->ReadPacket(&packet);
    if (r == ContainerFile::ReadResult::kError) {
      *error = file->Error();
      return false;
    }
    if (r == ContainerFile::ReadResult::kEnd) break;
    if (packet.stream_id != stream) continue;
    while (SlotTime(slot, info->fps) < packet.time_stamp) {
      if (!frame(static_cast<uint32_t>(slot), rows)) return true;
      ++slot;
    }
    if (!decoder.Decode(packet.payload.data(), packet.payload.size())) {
      *error = "packet at " + std::to_string(packet.time_stamp) + " ms: " + decoder.Error();
      return false;
    }
    fill_rows();
    if (!frame(static_cast<uint32_t>(slot), rows)) return true;
    ++slot;
  }
  while (SlotTime(slot, info->fps) < file->GetTrailer().duration) {
    if (!frame(static_cast<uint32_t>(slot), rows)) return true;
    ++slot;
  }
  return true;
}

}  // namespace kmr
