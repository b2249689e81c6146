#include "recorder/outputs/wmv/wmv_writer.h"
#include "shared/text/widen_text.h"
#include "shared/container/own_codec_info.h"

#include <algorithm>
#include <new>

#include "shared/byte_io.h"

namespace kmr {

namespace {

// The maker's address, shown by players as the codec's description.
constexpr const char16_t* kMakerAddress = u"https://norvane.example/kelvo";

struct SampleBuffer : PacketBuffer {
  std::unique_ptr<WmSample> sample;
};

std::vector<uint8_t> Le32Bytes(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

}  // namespace

WmvWriter::WmvWriter(std::unique_ptr<WmRuntimeFactory> factory)
    : MediaWriter("Advanced System File", "asf"), factory_(std::move(factory)) {}

WmvWriter::~WmvWriter() {
  Close();
  if (profile_ && runtime_ != nullptr) runtime_->ReleaseProfile();
  Uninitialize();
}

bool WmvWriter::Initialize() {
  if (runtime_ != nullptr) return true;
  if (factory_ == nullptr) {
    runtime_error_ = "The Windows Media runtime is not available.";
    return false;
  }
  runtime_error_.clear();
  runtime_ = factory_->CreateWriter(&runtime_error_);
  return runtime_ != nullptr;
}

void WmvWriter::Uninitialize() { runtime_.reset(); }

bool WmvWriter::Bind(WmvStream& stream, uint32_t) {
  bound_.push_back(&stream);
  return true;
}

bool WmvWriter::BuildProfile() {
  if (profile_) runtime_->ReleaseProfile();
  profile_ = false;
  // The profile has a stream for each of the recording's Windows Media
  // streams; any other is left out.
  bound_.clear();
  for (size_t i = 0; i < Streams().size(); ++i) {
    if (Streams()[i] != nullptr) Streams()[i]->BindTo(*this, static_cast<uint32_t>(i));
  }
  if (!runtime_->CreateProfile(kWmProfileVersion9)) return false;
  profile_ = true;
  for (WmvStream* stream : bound_) {
    WmProfileStream p;
    p.major_type = stream->MajorType();
    p.number = stream->StreamNumber();
    p.bitrate = stream->Bitrate();
    p.buffer_window = stream->BufferWindow();
    p.variable_bit_rate = stream->VariableBitRateAllowed();
    p.type = stream->MediaType();
    // A stream the runtime refuses is left out; its samples then fail.
    runtime_->AddProfileStream(p);
  }
  return true;
}

bool WmvWriter::Open() {
  Close();
  SetError("");
  if (runtime_ == nullptr) {
    SetError(runtime_error_.empty() ? "The Windows Media runtime is not available." : runtime_error_);
    return false;
  }
  const auto fail = [&](const char* what) {
    const std::string why = runtime_->Error();
    SetError(why.empty() ? std::string(what) : std::string(what) + ": " + why);
    if (profile_) runtime_->ReleaseProfile();
    profile_ = false;
    return false;
  };
  if (!BuildProfile()) return fail("The Windows Media profile could not be made");
  if (!runtime_->SetProfile()) return fail("The Windows Media writer refused the profile");
  if (!runtime_->SetInputsUncompressedNone()) return fail("The Windows Media writer's inputs could not be set");
  if (Path().empty() || !runtime_->SetOutputFilename(WidenSystemText(Path()))) {
    return fail("The Windows Media writer refused the file name");
  }
  for (WmvStream* stream : bound_) {
    if (stream->CodecType() == -1) continue;
    runtime_->AddCodecInfo(stream->CodecName(), stream->CodecDescription(),
                           static_cast<uint16_t>(stream->CodecType()), stream->CodecInfo());
  }
  runtime_->AddStringAttribute(0, u"Title", WidenSystemText(Title()));
  runtime_->AddStringAttribute(0, u"Author", WidenSystemText(Author()));
  runtime_->AddStringAttribute(0, u"Copyright", WidenSystemText(Copyright()));
  runtime_->AddStringAttribute(0, u"Description", WidenSystemText(Description()));
  if (!runtime_->BeginWriting()) return fail("The Windows Media writer could not begin the file");
  bool ok = true;
  for (WmvStream* stream : bound_) {
    stream->SetWriters(runtime_.get());
    if (!stream->Open()) {
      ok = false;
      break;
    }
  }
  if (ok) KeepRoomOnDisk(std::make_unique<DiskRoomKeeper>(DiskSpaceOf(Path())));
  if (ok && !StartWriterThread()) {
    SetError("The writer thread could not be started.");
    ok = false;
  }
  writing_ = ok;
  if (!ok) {
    // Nothing was recorded: the file is ended at once.
    for (MediaStream* s : Streams()) {
      if (s != nullptr) s->Close();
    }
    runtime_->EndWriting();
    runtime_->ReleaseProfile();
    profile_ = false;
    if (Error().empty()) SetError("A Windows Media stream could not be opened.");
  }
  return ok;
}

bool WmvWriter::Close() {
  StopWriterThread();
  if (!writing_) return true;
  writing_ = false;
  // A sample that failed during the recording says why.
  if (Error().empty() && WriteFailed()) {
    const std::string why = runtime_->Error();
    SetError(why.empty() ? "The Windows Media runtime could not write a sample." : why);
  }
  for (MediaStream* s : Streams()) {
    if (s != nullptr) s->Close();
  }
  bool ok = runtime_->EndWriting();
  if (!ok && Error().empty()) {
    const std::string why = runtime_->Error();
    SetError(why.empty() ? "The Windows Media file could not be finished." : why);
  }
  runtime_->ReleaseProfile();
  profile_ = false;
  if (!ok || WriteFailed()) TellWhatTheFileKeeps(ok);
  return ok && Error().empty();
}

// ---------------------------------------------------------------------------

void WmvStream::SetMediaType(const Guid& major, const Guid& subtype, const Guid& format_type,
                             std::vector<uint8_t> format) {
  type_.header = StreamHeader{};
  type_.header.major_type = major;
  type_.header.subtype = subtype;
  type_.header.fixed_size_samples = 0;
  type_.header.temporal_compression = 1;
  type_.header.sample_size = 0;
  type_.header.format_type = format_type;
  type_.header.format_size = static_cast<uint32_t>(format.size());
  type_.format = std::move(format);
}

bool WmvStream::Open() {
  if (runtime_ == nullptr) return false;
  return MediaStream::Open();
}

PacketBuffer* WmvStream::AllocBuffer(uint32_t size) {
  if (runtime_ == nullptr) return nullptr;
  std::unique_ptr<WmSample> sample = runtime_->AllocateSample(size);
  if (sample == nullptr || sample->Data() == nullptr || sample->Capacity() < size) return nullptr;
  auto* buffer = new (std::nothrow) SampleBuffer;
  if (buffer == nullptr) return nullptr;
  buffer->data = sample->Data();
  buffer->size = size;
  buffer->sample = std::move(sample);
  return buffer;
}

void WmvStream::FreeBuffer(PacketBuffer* buffer) { delete static_cast<SampleBuffer*>(buffer); }

bool WmvStream::FillBuffer(PacketBuffer* buffer, const void* data, uint32_t size) {
  if (!MediaStream::FillBuffer(buffer, data, size)) return false;
  return static_cast<SampleBuffer*>(buffer)->sample->SetLength(size);
}

bool WmvStream::WritePacket(const Packet* packet) {
  if (runtime_ == nullptr || packet == nullptr) return false;
  if (packet->nothing_to_write) return true;
  if (packet->buffer == nullptr) return false;
  return runtime_->WriteStreamSample(StreamNumber(), static_cast<uint64_t>(packet->time_stamp) * 10000,
                                     packet->time_stamp, static_cast<uint64_t>(packet->duration) * 10000,
                                     packet->flags, static_cast<SampleBuffer*>(packet->buffer)->sample.get());
}

// ---------------------------------------------------------------------------

bool WmvVideoStream::Attach(const OwnVideoFormat& video) {
  own_codec_ = FindOwnCodecInfo(video.compression);
  SetMediaType(kMediaTypeVideo, FourCcGuid(video.compression), kFormatVideoInfo, BuildVideoFormatBlock(video));
  return true;
}

bool WmvVideoStream::Attach(const CompressedVideoFormat& compressor) {
  if (compressor.bitmap_info.size() < kBitmapInfoHeaderSize) return false;
  if (compressor.scale == 0 || compressor.rate == 0) return false;
  own_codec_ = nullptr;
  const std::vector<uint8_t>& out = compressor.bitmap_info;
  std::vector<uint8_t> format;
  ByteWriter w(&format);
  for (int i = 0; i < 8; ++i) w.U32(0);  // source and target rectangles
  w.U32(compressor.bit_rate);
  w.U32(0);  // bit error rate
  const uint64_t per_frame =
      (10000000ull * compressor.scale + compressor.rate / 2) / compressor.rate;
  w.U32(static_cast<uint32_t>(per_frame));
  w.U32(static_cast<uint32_t>(per_frame >> 32));
  w.Bytes(out.data(), out.size());
  const uint32_t code = static_cast<uint32_t>(out[16]) | (static_cast<uint32_t>(out[17]) << 8) |
                        (static_cast<uint32_t>(out[18]) << 16) | (static_cast<uint32_t>(out[19]) << 24);
  SetMediaType(kMediaTypeVideo, FourCcGuid(code), kFormatVideoInfo, std::move(format));
  return true;
}

std::u16string WmvVideoStream::CodecName() const { return own_codec_ != nullptr ? own_codec_->display_name : u""; }

std::u16string WmvVideoStream::CodecDescription() const { return own_codec_ != nullptr ? kMakerAddress : u""; }

std::vector<uint8_t> WmvVideoStream::CodecInfo() const {
  if (own_codec_ == nullptr) return {};
  return Le32Bytes(own_codec_->fourcc);
}

// ---------------------------------------------------------------------------

bool WmvAudioStream::Attach(const SoundFormat& sound) {
  if (sound.wave_format.size() != kWaveFormatMp3Size) return false;
  SetMediaType(kMediaTypeAudio, kSubtypeMp3, kFormatWaveFormatEx, sound.wave_format);
  return true;
}

std::vector<uint8_t> WmvAudioStream::CodecInfo() const { return Le32Bytes(kWaveFormatMpegLayer3); }

}  // namespace kmr
