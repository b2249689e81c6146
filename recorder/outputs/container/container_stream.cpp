#include "recorder/outputs/container/container_stream.h"
#include "shared/container/own_codec_info.h"

#include <algorithm>

namespace kmr {

void ContainerStream::SetDescriptor(const StreamHeader& header, std::vector<uint8_t> format) {
  header_ = header;
  format_ = std::move(format);
  header_.format_size = static_cast<uint32_t>(format_.size());
  // The in-memory address has no meaning in the file; keep its low bits as the
  // record has always carried them.
  header_.format_pointer = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(format_.data()));
}

bool ContainerStream::Bind(OutputFile* file, uint32_t id) {
  file_ = file;
  id_ = static_cast<uint16_t>(id);
  return file_ != nullptr;
}

bool ContainerStream::Open() {
  if (file_ == nullptr) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(kStreamHeaderSize + format_.size());
  ByteWriter w(&bytes);
  header_.Write(w);
  w.Bytes(format_.data(), format_.size());
  if (!file_->Write(bytes.data(), bytes.size())) return false;
  file_->MarkRecordEnd();
  written_end_ = 0;
  return MediaStream::Open();
}

bool ContainerStream::WritePacket(const Packet* packet) {
  if (file_ == nullptr || packet == nullptr) return false;
  if (packet->nothing_to_write) {
    written_end_ = packet->time_stamp + packet->duration;
    return true;
  }
  if (packet->buffer == nullptr) {
    file_->NoteError("The recorder ran out of memory for a frame.");
    return false;
  }
  PacketRecordHeader record{id_, packet->time_stamp, packet->duration, packet->flags, packet->buffer->size};
  std::vector<uint8_t> head;
  head.reserve(kPacketRecordHeaderSize);
  ByteWriter w(&head);
  record.Write(w);
  if (!file_->Write(head.data(), head.size())) return false;
  if (packet->buffer->size != 0 && !file_->Write(packet->buffer->data, packet->buffer->size)) return false;
  file_->MarkRecordEnd();
  written_end_ = packet->time_stamp + packet->duration;
  if (file_->Position() >= kMaxContainerFilePosition) {
    file_->NoteError("The file reached the largest size a recording can have.");
    return false;
  }
  return true;
}

std::vector<uint8_t> BuildVideoFormatBlock(const OwnVideoFormat& source) {
  VideoFormat f;
  const BitmapInfoHeader& captured = source.bitmap;
  const uint32_t bits = captured.bit_count;
  const size_t n = ColourDataSize(bits);
  f.bit_rate = source.bit_rate;
  const uint32_t fps = std::max<uint32_t>(source.fps, 1);
  f.avg_time_per_frame = 10000000 / fps;
  f.bitmap = captured;
  const Rect r = source.capture_rect;
  const int32_t w = r.Width();
  const int32_t h = r.Height();
  f.bitmap.size = kBitmapInfoHeaderSize;
  // Sides rounded up to even for the codecs that need them; the lossless
  // one keeps the capture rectangle as recorded (a rounded-up side would
  // show a row or column that was never recorded).
  const OwnCodecInfo* own = FindOwnCodecInfo(source.compression);
  const bool exact = own != nullptr && !own->even_sides;
  f.bitmap.width = exact ? w : w + (w % 2);
  f.bitmap.height = exact ? h : h + (h % 2);
  f.bitmap.compression = source.compression;
  f.bitmap.size_image = static_cast<uint32_t>(f.bitmap.height) *
                        DibStride(static_cast<uint32_t>(f.bitmap.width), f.bitmap.bit_count);
  const std::vector<uint8_t>& table = source.colour_table;
  f.colour_data.assign(n, 0);
  std::copy_n(table.begin(), std::min(n, table.size()), f.colour_data.begin());
  return f.Serialize();
}

bool ContainerVideoStream::Attach(const OwnVideoFormat& format) {
  StreamHeader h;
  h.major_type = kMediaTypeVideo;
  h.subtype = kSubtypeScreenVideo;
  h.format_type = kFormatVideoInfo;
  SetDescriptor(h, BuildVideoFormatBlock(format));
  return true;
}

bool ContainerAudioStream::Attach(const SoundFormat& sound) {
  std::vector<uint8_t> format = sound.wave_format;
  if (format.size() != kWaveFormatMp3Size) return false;
  StreamHeader h;
  h.major_type = kMediaTypeAudio;
  h.subtype = kSubtypeMp3;
  h.format_type = kFormatWaveFormatEx;
  SetDescriptor(h, std::move(format));
  return true;
}

}  // namespace kmr
