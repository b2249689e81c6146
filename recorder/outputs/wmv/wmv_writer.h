// The Windows Media output: the runtime's writer gets a profile built for the
// recording (one profile stream per output stream, media types set here) and
// samples that are already compressed, so the runtime codes nothing. Video
// samples are the own codec's frames or an installed compressor's, sound is
// MP3. The four texts of the information page go into the header.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "recorder/outputs/container/container_stream.h"
#include "shared/container/own_codec_info.h"
#include "recorder/outputs/media_writer.h"
#include "recorder/outputs/stream_format.h"
#include "recorder/outputs/wmv/wm_runtime.h"

namespace kmr {

class WmvWriter : public MediaWriter {
 public:
  explicit WmvWriter(std::unique_ptr<WmRuntimeFactory> factory);
  ~WmvWriter() override;

  // Creates the runtime writer and its interfaces once; false when the
  // runtime is missing (Open then fails with the reason).
  bool Initialize() override;
  void Uninitialize() override;
  bool Open() override;
  bool Close() override;
  // Takes a Windows Media stream into the recording's profile.
  bool Bind(WmvStream& stream, uint32_t id) override;

  WmRuntime* Runtime() const { return runtime_.get(); }

 private:
  bool BuildProfile();

  std::unique_ptr<WmRuntimeFactory> factory_;
  std::unique_ptr<WmRuntime> runtime_;
  std::string runtime_error_;
  std::vector<WmvStream*> bound_;  // the recording's streams, in the profile
  bool profile_ = false;
  bool writing_ = false;  // between a successful Open and Close
};

// What the Windows Media video and sound streams share: the media type and
// samples written through the runtime.
class WmvStream : public virtual MediaStream {
 public:
  bool Open() override;
  void Close() override { SetWriters(nullptr); }
  // A buffer from the runtime; null without a runtime.
  PacketBuffer* AllocBuffer(uint32_t size) override;
  void FreeBuffer(PacketBuffer* buffer) override;
  bool FillBuffer(PacketBuffer* buffer, const void* data, uint32_t size) override;
  bool WritePacket(const Packet* packet) override;
  bool BindTo(StreamBinder& writer, uint32_t id) override { return writer.Bind(*this, id); }

  virtual std::u16string CodecName() const { return {}; }
  virtual std::u16string CodecDescription() const { return {}; }
  // 1 video, 0 audio, -1 no codec information.
  virtual int32_t CodecType() const { return -1; }
  virtual std::vector<uint8_t> CodecInfo() const { return {}; }
  virtual Guid MajorType() const = 0;
  virtual uint16_t StreamNumber() const = 0;
  virtual uint32_t Bitrate() const { return 0; }
  // ms: 3000 for bit rates up to 1000, else 1000.
  virtual uint32_t BufferWindow() const { return Bitrate() < 1001 ? 3000 : 1000; }

  void SetWriters(WmRuntime* runtime) { runtime_ = runtime; }
  const WmMediaType& MediaType() const { return type_; }

 protected:
  void SetMediaType(const Guid& major, const Guid& subtype, const Guid& format_type, std::vector<uint8_t> format);

 private:
  WmRuntime* runtime_ = nullptr;
  WmMediaType type_;
};

// The video: the own screen codec's frames or an installed compressor's.
class WmvVideoStream : public WmvStream, public VideoStream {
 public:
  bool VariableBitRateAllowed() const override { return true; }
  // The own codecs' frames, or a compressor's whose output format is at
  // least 40 bytes.
  bool Attach(const OwnVideoFormat& format) override;
  bool Attach(const CompressedVideoFormat& format) override;
  uint32_t KeyFlag() const override { return kWmCleanPoint; }

  // The own codec's name, description and code; none for a compressor's.
  std::u16string CodecName() const override;
  std::u16string CodecDescription() const override;
  int32_t CodecType() const override { return 1; }
  std::vector<uint8_t> CodecInfo() const override;
  Guid MajorType() const override { return kMediaTypeVideo; }
  uint16_t StreamNumber() const override { return 1; }

 private:
  const OwnCodecInfo* own_codec_ = nullptr;  // null for a compressor
};

// MP3 sound.
class WmvAudioStream : public WmvStream, public SoundStream {
 public:
  bool VariableBitRateAllowed() const override { return true; }
  // The packets are coded MP3 blocks.
  bool Attach(const SoundFormat& format) override;

  std::u16string CodecName() const override { return u"MPEG Audio Layer-3"; }
  int32_t CodecType() const override { return 0; }
  std::vector<uint8_t> CodecInfo() const override;
  Guid MajorType() const override { return kMediaTypeAudio; }
  uint16_t StreamNumber() const override { return 2; }
};

}  // namespace kmr
