// AVI, Windows Media, Matroska and MP4 files through libavformat. The own
// codecs' streams become the same descriptors the own container carries
// (the video info header with the bitmap header and colour data, the MP3
// wave format), so the player's decoders take them unchanged. Opening reads
// every packet once: the key frames for seeking and the true duration.
// Nothing in the file is trusted: sizes are bounded before use.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "player/media_file.h"
#include "shared/container/own_codec_info.h"
#include "shared/libav/libav_util.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace kmr {

namespace {

constexpr uint64_t kRewindOffset = std::numeric_limits<uint64_t>::max();
// Above this a packet is damage, not a frame (a 16384 × 2048 × 4 picture).
constexpr int kMaxPacketBytes = 128 << 20;

uint32_t ToMs(int64_t t, AVRational base) {
  if (t == AV_NOPTS_VALUE || t <= 0) return 0;
  const int64_t ms = av_rescale_q(t, base, AVRational{1, 1000});
  return ms > static_cast<int64_t>(kMaxRecordingMs) ? kMaxRecordingMs : static_cast<uint32_t>(ms);
}

bool IsOwnVideo(const AVCodecParameters* par) {
  return par->codec_type == AVMEDIA_TYPE_VIDEO && IsOwnFourCc(par->codec_tag);
}

bool IsMp3(const AVCodecParameters* par) {
  return par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id == AV_CODEC_ID_MP3;
}

class LibavMediaFile : public RecordingFile {
 public:
  ~LibavMediaFile() override {
    Close();
    av_packet_free(&packet_);
  }

  // By path, or (source set) through the source's bytes.
  bool Open(const std::string& path, std::shared_ptr<ByteSource> source, std::string* why) {
    path_ = path;
    source_ = std::move(source);
    if (!OpenInput(why)) return false;
    if (!Describe(why)) return false;
    if (!Scan(why)) return false;
    return Reopen(why);
  }

  void Close() override {
    avformat_close_input(&context_);
    // A reader of our own is not the library's to free.
    if (io_ != nullptr) av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
  bool IsOpen() const override { return context_ != nullptr; }
  const std::string& Error() const override { return error_; }
  const std::vector<StreamDescriptor>& Streams() const override { return streams_; }
  uint32_t Duration() const override { return duration_; }
  bool AtEnd() const override { return at_end_; }
  uint64_t StartOffset() const override { return kRewindOffset; }
  std::string Kind() const override { return kind_; }

  ReadResult ReadPacket(PacketRecord* out) override {
    if (context_ == nullptr) {
      error_ = "no recording is open";
      return ReadResult::kError;
    }
    for (;;) {
      const int r = av_read_frame(context_, packet_);
      if (r == AVERROR_EOF) {
        at_end_ = true;
        return ReadResult::kEnd;
      }
      if (r < 0) {
        error_ = "cannot read a packet: " + LibavError(r);
        return ReadResult::kError;
      }
      if (packet_->size > kMaxPacketBytes) {
        error_ = "a packet of " + std::to_string(packet_->size) + " bytes is too large for a frame";
        av_packet_unref(packet_);
        return ReadResult::kError;
      }
      const bool taken = Convert(out);
      av_packet_unref(packet_);
      if (taken) return ReadResult::kPacket;
    }
  }

  void Rewind() override {
    std::string why;
    if (!Reopen(&why)) error_ = why;
  }

  void SetPosition(uint64_t offset) override {
    if (offset == kRewindOffset || key_stream_ < 0 || context_ == nullptr) return Rewind();
    at_end_ = false;
    const int r = av_seek_frame(context_, key_stream_, static_cast<int64_t>(offset), AVSEEK_FLAG_BACKWARD);
    if (r < 0) Rewind();  // from the start, which is always right
  }

  std::vector<KeyPacket> IndexKeyPackets(uint16_t stream_id) override {
    key_stream_ = stream_id;
    return stream_id < keys_.size() ? keys_[stream_id] : std::vector<KeyPacket>{};
  }

 private:
  bool OpenInput(std::string* why) {
    Close();
    at_end_ = false;
    // The packets as they were written: a block of sound stays one packet
    // with its own time stamp.
    context_ = avformat_alloc_context();
    if (context_ == nullptr) return false;
    context_->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    if (source_ != nullptr && !OpenSourceIo()) {
      avformat_free_context(context_);
      context_ = nullptr;
      *why = "out of memory for the reader";
      return false;
    }
    const int r = avformat_open_input(&context_, path_.c_str(), nullptr, nullptr);
    if (r < 0) {
      // Not a media file at all: the caller's own error says enough.
      if (r != AVERROR_INVALIDDATA) *why = LibavError(r);
      return false;
    }
    if (packet_ == nullptr) packet_ = av_packet_alloc();
    return packet_ != nullptr;
  }

  bool Reopen(std::string* why) { return OpenInput(why); }

  bool OpenSourceIo() {
    constexpr int kBufferBytes = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer == nullptr) return false;
    io_position_ = 0;
    io_ = avio_alloc_context(buffer, kBufferBytes, 0, this, &LibavMediaFile::ReadSource, nullptr,
                             &LibavMediaFile::SeekSource);
    if (io_ == nullptr) {
      av_free(buffer);
      return false;
    }
    context_->pb = io_;
    context_->flags |= AVFMT_FLAG_CUSTOM_IO;
    return true;
  }

  static int ReadSource(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<LibavMediaFile*>(opaque);
    const uint64_t total = self->source_->Size();
    if (self->io_position_ >= total || size <= 0) return AVERROR_EOF;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), total - self->io_position_));
    if (!self->source_->ReadAt(self->io_position_, buffer, n)) return AVERROR(EIO);
    self->io_position_ += n;
    return static_cast<int>(n);
  }

  static int64_t SeekSource(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<LibavMediaFile*>(opaque);
    const auto total = static_cast<int64_t>(self->source_->Size());
    if ((whence & AVSEEK_SIZE) != 0) return total;
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET: base = 0; break;
      case SEEK_CUR: base = static_cast<int64_t>(self->io_position_); break;
      case SEEK_END: base = total; break;
      default: return AVERROR(EINVAL);
    }
    const int64_t target = base + offset;
    if (target < 0 || target > total) return AVERROR(EINVAL);
    self->io_position_ = static_cast<uint64_t>(target);
    return target;
  }

  bool Describe(std::string* why) {
    kind_ = context_->iformat->name;
    bool own = false;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
      const AVStream* st = context_->streams[i];
      const AVCodecParameters* par = st->codecpar;
      StreamDescriptor d;
      if (IsOwnVideo(par)) {
        own = true;
        if (!VideoDescriptor(st, &d, why)) return false;
      } else if (IsMp3(par)) {
        AudioDescriptor(par, &d);
      }
      // Anything else keeps an empty descriptor no decoder takes.
      streams_.push_back(std::move(d));
    }
    if (!own) {
      *why = "a " + kind_ + " file without a stream of the screen video codecs";
      return false;
    }
    return true;
  }

  static bool VideoDescriptor(const AVStream* st, StreamDescriptor* d, std::string* why) {
    const AVCodecParameters* par = st->codecpar;
    if (par->width <= 0 || par->height <= 0 || par->width > kMaxFrameSide || par->height > kMaxFrameSide ||
        static_cast<uint64_t>(par->width) * static_cast<uint64_t>(par->height) > kMaxFramePixels) {
      *why = "the video stream's picture size is out of range";
      return false;
    }
    VideoFormat f;
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    f.avg_time_per_frame = rate.num > 0 ? av_rescale(10000000, rate.den, rate.num) : 666666;
    f.bitmap.size = kBitmapInfoHeaderSize;
    f.bitmap.width = par->width;
    f.bitmap.height = par->height;
    f.bitmap.planes = 1;
    f.bitmap.bit_count = static_cast<uint16_t>(par->bits_per_coded_sample > 0 ? par->bits_per_coded_sample : 32);
    f.bitmap.compression = par->codec_tag;
    f.bitmap.size_image = static_cast<uint32_t>(par->height) *
                          DibStride(static_cast<uint32_t>(par->width), f.bitmap.bit_count);
    const size_t n = ColourDataSize(f.bitmap.bit_count);
    f.colour_data.assign(n, 0);
    if (par->extradata != nullptr && par->extradata_size > 0) {
      std::copy_n(par->extradata, std::min<size_t>(n, static_cast<size_t>(par->extradata_size)),
                  f.colour_data.begin());
    }
    d->header.major_type = kMediaTypeVideo;
    d->header.subtype = kSubtypeScreenVideo;
    d->header.format_type = kFormatVideoInfo;
    d->format = f.Serialize();
    d->header.format_size = static_cast<uint32_t>(d->format.size());
    return true;
  }

  static void AudioDescriptor(const AVCodecParameters* par, StreamDescriptor* d) {
    WaveFormatMp3 w;
    w.channels = static_cast<uint16_t>(par->ch_layout.nb_channels);
    w.samples_per_sec = static_cast<uint32_t>(std::max(par->sample_rate, 0));
    w.avg_bytes_per_sec = static_cast<uint32_t>(std::clamp<int64_t>(par->bit_rate / 8, 0, 1 << 20));
    if (w.avg_bytes_per_sec == 0) w.avg_bytes_per_sec = 16000;
    w.block_align = 1;
    w.flags = 2;
    // The rest of the recorder's own wave format when the file kept it.
    if (par->extradata != nullptr && par->extradata_size == 12) {
      const uint8_t* x = par->extradata;
      w.id = static_cast<uint16_t>(x[0] | (x[1] << 8));
      w.flags = static_cast<uint32_t>(x[2] | (x[3] << 8) | (x[4] << 16) | (static_cast<uint32_t>(x[5]) << 24));
      w.block_size = static_cast<uint16_t>(x[6] | (x[7] << 8));
      w.frames_per_block = static_cast<uint16_t>(x[8] | (x[9] << 8));
      w.codec_delay = static_cast<uint16_t>(x[10] | (x[11] << 8));
    }
    // Other muxers cut the sound as the recorder handed it over: room for a
    // few seconds a packet.
    if (w.frames_per_block < 4) w.frames_per_block = 4;
    d->header.major_type = kMediaTypeAudio;
    d->header.subtype = kSubtypeMp3;
    d->header.format_type = kFormatWaveFormatEx;
    d->format = w.Serialize();
    d->header.format_size = static_cast<uint32_t>(d->format.size());
  }

  // One pass over every packet: key frames, the end of each stream and the
  // video's frame interval.
  bool Scan(std::string* why) {
    keys_.assign(streams_.size(), {});
    std::vector<std::vector<double>> gaps(streams_.size());
    std::vector<double> last(streams_.size(), -1);
    uint32_t end = 0;
    PacketRecord record;
    for (;;) {
      const ReadResult r = ReadPacket(&record);
      if (r == ReadResult::kEnd) break;
      if (r == ReadResult::kError) {
        *why = error_;
        return false;
      }
      end = std::max(end, record.time_stamp + record.duration);
      const AVStream* st = context_->streams[record.stream_id];
      const double t = static_cast<double>(last_pts_) * st->time_base.num / st->time_base.den;
      if (last[record.stream_id] >= 0 && t > last[record.stream_id]) {
        gaps[record.stream_id].push_back(t - last[record.stream_id]);
      }
      last[record.stream_id] = t;
    }
    for (size_t i = 0; i < streams_.size(); ++i) {
      if (IsOwnVideo(context_->streams[i]->codecpar)) SetFrameRate(&streams_[i], context_->streams[i], gaps[i]);
    }
    duration_ = end;
    if (context_->duration > 0 && context_->duration != AV_NOPTS_VALUE) {
      duration_ = std::max(duration_, ToMs(context_->duration, AVRational{1, AV_TIME_BASE}));
    }
    scanning_ = false;
    return true;
  }

  // The frames' interval is the shortest gap between frames (those between
  // are dropped or unchanged frames), averaged over the gaps near it since
  // time bases round; the file's own rate when no two frames follow each
  // other, and 15 when it has none either.
  static void SetFrameRate(StreamDescriptor* d, const AVStream* st, const std::vector<double>& gaps) {
    double fps = 0;
    if (!gaps.empty()) {
      const double shortest = *std::min_element(gaps.begin(), gaps.end());
      double sum = 0;
      int n = 0;
      for (double g : gaps) {
        if (g < shortest * 1.5) sum += g, ++n;
      }
      fps = n > 0 && sum > 0 ? n / sum : 0;
    }
    const AVRational own = st->avg_frame_rate;
    if ((fps < kMinFps || fps > kMaxFps) && own.num > 0 && own.den > 0) fps = av_q2d(own);
    if (fps < kMinFps || fps > kMaxFps) fps = 15;
    const int64_t per_frame = static_cast<int64_t>(10000000.0 / std::round(fps) + 0.5);
    for (int b = 0; b < 8; ++b) d->format[40 + b] = static_cast<uint8_t>(static_cast<uint64_t>(per_frame) >> (8 * b));
  }

  bool Convert(PacketRecord* out) {
    const int index = packet_->stream_index;
    if (index < 0 || static_cast<unsigned>(index) >= streams_.size() || streams_[index].format.empty()) return false;
    if (packet_->size <= 0) return false;  // an empty sample: the picture stays
    const AVStream* st = context_->streams[index];
    const int64_t t = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    last_pts_ = t == AV_NOPTS_VALUE ? 0 : t;
    out->stream_id = static_cast<uint16_t>(index);
    out->time_stamp = ToMs(t, st->time_base);
    out->duration = ToMs(packet_->duration, st->time_base);
    // The key frames of a codec that has them (the lossy codec's packets
    // carry none).
    const OwnCodecInfo* own = FindOwnCodecInfo(st->codecpar->codec_tag);
    const bool key = (packet_->flags & AV_PKT_FLAG_KEY) != 0 && own != nullptr && own->key_frames;
    out->flags = key ? kPacketFlagKeyFrame : 0;
    out->payload.assign(packet_->data, packet_->data + packet_->size);
    if (scanning_ && key) keys_[index].push_back(KeyPacket{out->time_stamp, static_cast<uint64_t>(t)});
    return true;
  }

  std::string path_;
  std::shared_ptr<ByteSource> source_;
  AVIOContext* io_ = nullptr;
  uint64_t io_position_ = 0;
  std::string kind_;
  AVFormatContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::vector<StreamDescriptor> streams_;
  std::vector<std::vector<KeyPacket>> keys_;
  int key_stream_ = -1;
  int64_t last_pts_ = 0;
  uint32_t duration_ = 0;
  bool at_end_ = false;
  bool scanning_ = true;
  std::string error_;
};

}  // namespace

std::unique_ptr<RecordingFile> OpenMediaFile(const std::string& path, std::string* error) {
  QuietLibavLog();
  auto file = std::make_unique<LibavMediaFile>();
  std::string why;
  if (!file->Open(path, nullptr, &why)) {
    *error = why;
    return nullptr;
  }
  return file;
}

std::unique_ptr<RecordingFile> OpenMediaSource(std::shared_ptr<ByteSource> source, std::string* error) {
  QuietLibavLog();
  auto file = std::make_unique<LibavMediaFile>();
  std::string why;
  if (source == nullptr || !file->Open("", std::move(source), &why)) {
    *error = why.empty() ? "not a media file with the screen video codecs" : why;
    return nullptr;
  }
  return file;
}

}  // namespace kmr
