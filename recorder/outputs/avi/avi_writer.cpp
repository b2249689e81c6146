#include "recorder/outputs/avi/avi_writer.h"

#include <algorithm>
#include <cstdio>

#include "recorder/outputs/avi/mp3_silence.h"
#include "shared/byte_io.h"
#include "shared/container/container_format.h"
#include "shared/mul_div.h"

namespace kmr {

namespace {

// Rectangle (0, 0, width, |height|) of a bitmap info header.
Rect BitmapFrame(const std::vector<uint8_t>& bitmap_info) {
  const auto width = static_cast<int32_t>(LeAt(bitmap_info, 4));
  const auto height = static_cast<int32_t>(LeAt(bitmap_info, 8));
  return Rect{0, 0, width, height < 0 ? -height : height};
}

}  // namespace

uint32_t BitmapCompression(const std::vector<uint8_t>& bitmap_info) { return LeAt(bitmap_info, 16); }

// ---------------------------------------------------------------------------

AviWriter::AviWriter(std::unique_ptr<AviLibrary> library, const char* format_name, const char* extension)
    : MediaWriter(format_name, extension), library_(std::move(library)) {}

AviWriter::~AviWriter() { Close(); }

bool AviWriter::Open() {
  if (Path().empty()) return false;
  Close();
  SetError("");
  if (library_ == nullptr) {
    SetError("The AVI file library is not available.");
    return false;
  }
  std::remove(Path().c_str());
  std::string error;
  file_ = library_->Open(Path(), kAviOpenCreateWrite, &error);
  if (file_ == nullptr) {
    SetError(error);
    return false;
  }
  bool ok = true;
  for (size_t i = 0; ok && i < Streams().size(); ++i) {
    MediaStream* stream = Streams()[i];
    if (stream == nullptr) continue;
    ok = stream->BindTo(*this, static_cast<uint32_t>(i)) && stream->Open();
  }
  if (ok) KeepRoomOnDisk(std::make_unique<DiskRoomKeeper>(DiskSpaceOf(Path())));
  if (ok && !StartWriterThread()) {
    SetError("The writer thread could not be started.");
    ok = false;
  }
  if (!ok) {
    // Nothing was recorded: the streams and the file are let go at once.
    if (Error().empty()) SetError(file_->Error());
    for (MediaStream* stream : Streams()) {
      if (stream != nullptr) stream->Close();
    }
    std::string ignored;
    file_->Release(&ignored);
    file_.reset();
  }
  return ok;
}

bool AviWriter::Close() {
  if (file_ == nullptr) {
    StopWriterThread();
    return true;
  }
  StopWriterThread();
  // A write that failed during the recording says why.
  if (Error().empty()) SetError(file_->Error());
  if (Error().empty() && WriteFailed()) SetError("The AVI file library could not write a sample.");
  for (MediaStream* stream : Streams()) {
    if (stream != nullptr) stream->Close();
  }
  // The record is not ended (AVIFileEndRecord) for two or more streams:
  // called once at close, the library indexes the file as interleaved by
  // records it never got (it ends records per frame). Wine's AVIFile then
  // stops on "nFrame < This->nIdxRecords" while writing the index and the
  // file is left without one; the file stays a plain AVI file instead,
  // which every reader takes.
  bool ok = true;
  std::string error;
  if (!file_->Release(&error)) {
    ok = false;
    if (Error().empty()) SetError(error);
  }
  file_.reset();
  if (!ok || WriteFailed()) TellWhatTheFileKeeps(ok);
  return ok && Error().empty();
}

// ---------------------------------------------------------------------------

bool AviWriter::Bind(AviStream& stream, uint32_t id) { return file_ != nullptr && stream.Bind(file_.get(), id); }

bool AviStream::Bind(AviFile* file, uint32_t) {
  file_ = file;
  return file_ != nullptr;
}

bool AviStream::Open() {
  if (file_ == nullptr || stream_ == nullptr) return false;
  zero_written_ = false;
  return MediaStream::Open();
}

void AviStream::Close() { stream_.reset(); }

bool AviStream::CreateStream() {
  stream_.reset();
  if (file_ == nullptr) return false;
  stream_ = file_->CreateStream(info_);
  if (stream_ == nullptr) return false;
  if (!stream_->SetFormat(format_)) {
    stream_.reset();
    return false;
  }
  return true;
}

void AviStream::WriteEndMarker() {
  const bool taken = slot_taken_;
  slot_taken_ = false;
  if (stream_ == nullptr || !taken || last_index_ == 0) return;
  MediaWriter* writer = GetWriter();
  if (writer != nullptr && writer->WriteFailed()) return;
  const uint32_t scale = info_.scale == 0 ? 1 : info_.scale;
  const uint32_t index = RoundedDiv(static_cast<uint64_t>(last_slot_ms_) * info_.rate, 1000ull * scale);
  if (index <= last_index_ || index > 0x7FFFFFFFu) return;
  static const uint8_t kNothing = 0;
  if (stream_->Write(static_cast<int32_t>(index), 1, &kNothing, 0, 0)) last_index_ = index;
}

bool AviStream::WriteVideoPacket(const Packet* packet) {
  if (stream_ == nullptr || packet == nullptr) return false;
  NoteSlot(packet->time_stamp);
  if (packet->nothing_to_write) return true;
  if (packet->buffer == nullptr) return false;
  const uint32_t scale = info_.scale == 0 ? 1 : info_.scale;
  uint32_t index = RoundedDiv(static_cast<uint64_t>(packet->time_stamp) * info_.rate, 1000ull * scale);
  if (index < last_index_ + 1) index = last_index_ + 1;
  if (index > 0x7FFFFFFFu) return false;
  if (last_index_ == 0 && !zero_written_) {
    // Sample 0 is written empty: libraries that take the first sample
    // written as the stream's start would otherwise move every later index.
    static const uint8_t kNothing = 0;
    if (!stream_->Write(0, 1, &kNothing, 0, 0)) return false;
    zero_written_ = true;
  }
  if (!stream_->Write(static_cast<int32_t>(index), 1, packet->buffer->data, packet->buffer->size, packet->flags)) {
    return false;
  }
  last_index_ = index;
  return true;
}

// ---------------------------------------------------------------------------

bool AviVideoStream::Attach(const OwnVideoFormat& video) {
  std::vector<uint8_t> block = BuildVideoFormatBlock(video);
  format_.assign(block.begin() + (kVideoInfoHeaderSize - kBitmapInfoHeaderSize), block.end());
  scale_ = 1;
  rate_ = video.fps;
  return true;
}

bool AviVideoStream::Attach(const CompressedVideoFormat& compressed) {
  if (compressed.bitmap_info.size() < kBitmapInfoHeaderSize) return false;
  format_ = compressed.bitmap_info;
  scale_ = compressed.scale;
  rate_ = compressed.rate;
  return true;
}

bool AviVideoStream::Bind(AviFile* file, uint32_t id) {
  if (!AviStream::Bind(file, id) || format_.size() < kBitmapInfoHeaderSize) return false;
  info_ = AviStreamInfo{};
  info_.type = kAviStreamVideo;
  info_.handler = BitmapCompression(format_);
  info_.scale = scale_;
  info_.rate = rate_;
  info_.suggested_buffer_size = LeAt(format_, 20);
  info_.quality = 0xFFFFFFFF;
  info_.sample_size = 0;
  info_.frame = BitmapFrame(format_);
  return CreateStream();
}

bool AviVideoStream::Open() {
  last_index_ = 0;
  slot_taken_ = false;
  return AviStream::Open();
}

void AviVideoStream::Close() {
  WriteEndMarker();
  AviStream::Close();
  last_index_ = 0;
}

// ---------------------------------------------------------------------------

bool AviAudioStream::Attach(const SoundFormat& sound) {
  if (sound.wave_format.size() != kWaveFormatMp3Size) return false;
  format_ = sound.wave_format;
  return true;
}

bool AviAudioStream::Bind(AviFile* file, uint32_t id) {
  if (!AviStream::Bind(file, id) || format_.size() < 16) return false;
  WaveFormatMp3 wave;
  if (!WaveFormatMp3::Parse(format_, &wave)) return false;
  info_ = AviStreamInfo{};
  info_.type = kAviStreamAudio;
  info_.handler = wave.format_tag;
  info_.scale = wave.block_align;
  info_.rate = wave.avg_bytes_per_sec;
  info_.suggested_buffer_size = wave.avg_bytes_per_sec;
  info_.quality = 0xFFFFFFFF;
  info_.sample_size = wave.block_align;
  info_.frame = Rect{};
  return CreateStream();
}

bool AviAudioStream::WritePacket(const Packet* packet) {
  if (!HasStream() || packet == nullptr) return false;
  if (packet->nothing_to_write) return true;
  if (packet->buffer == nullptr) return false;
  const uint32_t block = info_.sample_size == 0 ? 1 : info_.sample_size;
  if (first_) {
    first_ = false;
    // AVI sound has no start time of its own: silence fills the time before
    // the first block (the sound server may have started late), to within
    // one frame.
    const uint64_t at = RoundedDiv(static_cast<uint64_t>(packet->time_stamp) * info_.rate, 1000ull * info_.scale);
    const std::vector<uint8_t> silence = SilentMp3FrameLike(packet->buffer->data, packet->buffer->size);
    const uint32_t frame_samples = static_cast<uint32_t>(silence.size()) / block;
    while (frame_samples != 0 && written_ + static_cast<uint64_t>(frame_samples) * block <= at) {
      if (!Stream()->Write(-1, static_cast<int32_t>(frame_samples), silence.data(), frame_samples * block, 0)) {
        return false;
      }
      written_ += static_cast<uint64_t>(frame_samples) * block;
    }
  }
  const uint32_t samples = packet->buffer->size / block;
  if (samples == 0) return true;
  if (!Stream()->Write(-1, static_cast<int32_t>(samples), packet->buffer->data, samples * block, packet->flags)) {
    return false;
  }
  written_ += static_cast<uint64_t>(samples) * block;
  return true;
}

bool AviAudioStream::Open() {
  first_ = true;
  written_ = 0;
  return AviStream::Open();
}

}  // namespace kmr
