#include "tools/kmrtool/libav/convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "shared/libav/libav_util.h"
#include "tools/kmrtool/audio_export.h"
#include "tools/kmrtool/raw_export.h"

namespace kmr {

namespace {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ParserFree {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct SwsFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct SwrFree {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFree {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using CodecContext = std::unique_ptr<AVCodecContext, CodecContextFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

bool Fail(std::string* error, const std::string& what, int code = 0) {
  *error = code != 0 ? what + ": " + LibavError(code) : what;
  return false;
}

// The output file's container; the streams' packets go in by time.
class Muxer {
 public:
  ~Muxer() {
    if (ctx_ != nullptr) {
      if (ctx_->pb != nullptr) avio_closep(&ctx_->pb);
      avformat_free_context(ctx_);
    }
  }
  bool Create(const char* container, const std::string& path, std::string* error) {
    const int r = avformat_alloc_output_context2(&ctx_, nullptr, container, path.c_str());
    if (r < 0 || ctx_ == nullptr) return Fail(error, "the output cannot be made", r);
    path_ = path;
    return true;
  }
  bool NeedsGlobalHeader() const { return (ctx_->oformat->flags & AVFMT_GLOBALHEADER) != 0; }
  AVStream* AddStream() { return avformat_new_stream(ctx_, nullptr); }
  bool Begin(std::string* error) {
    int r = avio_open(&ctx_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Fail(error, "cannot write " + path_, r);
    opened_ = true;
    r = avformat_write_header(ctx_, nullptr);
    if (r < 0) return Fail(error, "the output's header cannot be written", r);
    return true;
  }
  // Takes the packet (its time in the codec's time base).
  bool Write(AVPacket* packet, AVRational from, AVStream* stream, std::string* error) {
    packet->stream_index = stream->index;
    av_packet_rescale_ts(packet, from, stream->time_base);
    const int r = av_interleaved_write_frame(ctx_, packet);
    if (r < 0) return Fail(error, "writing the output failed", r);
    return true;
  }
  bool End(std::string* error) {
    int r = av_write_trailer(ctx_);
    if (r < 0) return Fail(error, "the output cannot be finished", r);
    r = avio_closep(&ctx_->pb);
    if (r < 0) return Fail(error, "the output cannot be closed", r);
    return true;
  }
  bool Opened() const { return opened_; }

 private:
  AVFormatContext* ctx_ = nullptr;
  std::string path_;
  bool opened_ = false;
};

// Sends a frame (null: the end) to an encoder and writes what comes out. A
// packet without a duration lasts one unit of the time base (a frame slot):
// the last picture then lasts its slot rather than nothing.
bool EncodeAndWrite(AVCodecContext* encoder, AVFrame* frame, Muxer* muxer, AVStream* stream, std::string* error) {
  int r = avcodec_send_frame(encoder, frame);
  if (r < 0) return Fail(error, "the encoder refused a frame", r);
  Packet packet(av_packet_alloc());
  if (packet == nullptr) return Fail(error, "out of memory");
  for (;;) {
    r = avcodec_receive_packet(encoder, packet.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return Fail(error, "the encoder failed", r);
    if (packet->duration == 0 && encoder->codec_type == AVMEDIA_TYPE_VIDEO) packet->duration = 1;
    const bool ok = muxer->Write(packet.get(), encoder->time_base, stream, error);
    av_packet_unref(packet.get());
    if (!ok) return false;
  }
}

// The picture: the recording's frames in, coded frames out at their slots.
class VideoTrack {
 public:
  bool Open(const ConvertTarget& target, const RawVideoInfo& info, const ConvertOptions& options, Muxer* muxer,
            std::string* error) {
    muxer_ = muxer;
    info_ = info;
    AVPixelFormat source;
    switch (info.bits) {
      case 32: source = AV_PIX_FMT_BGR0; break;
      case 24: source = AV_PIX_FMT_BGR24; break;
      case 16: source = info.colour_masks[1] == 0x03E0 ? AV_PIX_FMT_RGB555LE : AV_PIX_FMT_RGB565LE; break;
      case 8: source = AV_PIX_FMT_PAL8; break;
      default: return Fail(error, "the recording's colour depth cannot be converted");
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(target.video);
    if (codec == nullptr) return Fail(error, std::string("libavcodec has no ") + target.video + " encoder here");
    encoder_.reset(avcodec_alloc_context3(codec));
    if (encoder_ == nullptr) return Fail(error, "out of memory");
    const bool rgb = std::strcmp(target.video, "libx264rgb") == 0 || std::strcmp(target.video, "ffv1") == 0;
    const AVPixelFormat coded = rgb ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
    // 4:2:0 pictures have even sides: an odd side gets its last line again.
    const int w = rgb ? info.width : info.width + info.width % 2;
    const int h = rgb ? info.height : info.height + info.height % 2;
    AVCodecContext* e = encoder_.get();
    e->width = w;
    e->height = h;
    e->pix_fmt = coded;
    e->time_base = AVRational{1, static_cast<int>(info.fps)};
    e->framerate = AVRational{static_cast<int>(info.fps), 1};
    e->gop_size = static_cast<int>(info.fps) * 10;  // a key frame at least every 10 s, for seeking
    if (!rgb) {
      e->colorspace = AVCOL_SPC_SMPTE170M;
      e->color_primaries = AVCOL_PRI_SMPTE170M;
      e->color_trc = AVCOL_TRC_SMPTE170M;
      e->color_range = AVCOL_RANGE_MPEG;
    }
    if (muxer->NeedsGlobalHeader()) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* opts = nullptr;
    if (std::strncmp(target.video, "libx264", 7) == 0) {
      // No reordered frames: a picture held for a long stretch is then the
      // last one the track's times reach (with B-frames an MP4 track ended
      // at the last decoded frame's time, before the held picture's).
      e->max_b_frames = 0;
      av_dict_set(&opts, "preset", "fast", 0);
      // Quality by frame, not by how long a picture is held: a still stretch
      // would otherwise get its picture coded at a higher quality.
      av_dict_set(&opts, "x264-params", "force-cfr=1", 0);
      if (options.lossless) {
        av_dict_set(&opts, "qp", "0", 0);
      } else {
        av_dict_set_int(&opts, "crf", options.quality >= 0 ? options.quality : 20, 0);
      }
    } else if (std::strcmp(target.video, "libvpx-vp9") == 0) {
      e->bit_rate = 0;
      av_dict_set_int(&opts, "crf", options.quality >= 0 ? options.quality : 32, 0);
      av_dict_set(&opts, "deadline", "good", 0);
      av_dict_set(&opts, "cpu-used", "4", 0);
      av_dict_set(&opts, "row-mt", "1", 0);
    }
    const int r = avcodec_open2(e, codec, &opts);
    av_dict_free(&opts);
    if (r < 0) return Fail(error, std::string("the ") + target.video + " encoder cannot be opened", r);
    stream_ = muxer->AddStream();
    if (stream_ == nullptr) return Fail(error, "out of memory");
    stream_->time_base = e->time_base;
    if (avcodec_parameters_from_context(stream_->codecpar, e) < 0) return Fail(error, "out of memory");
    scale_.reset(sws_getContext(info.width, info.height, source, info.width, info.height, coded, rgb ? SWS_POINT : SWS_BICUBIC, nullptr,
                                nullptr, nullptr));
    if (scale_ == nullptr) return Fail(error, "the picture's format cannot be converted");
    if (!rgb) {
      // Computer pictures: BT.601 matrix, video range, as tagged above.
      const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
      sws_setColorspaceDetails(scale_.get(), coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
    }
    frame_.reset(av_frame_alloc());
    if (frame_ == nullptr) return Fail(error, "out of memory");
    frame_->format = coded;
    frame_->width = w;
    frame_->height = h;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) return Fail(error, "out of memory for the picture");
    return true;
  }
  AVStream* Stream() const { return stream_; }

  // The picture of a slot.
  bool Put(uint32_t slot, const std::vector<uint8_t>& rows, std::string* error) {
    if (av_frame_make_writable(frame_.get()) < 0) return Fail(error, "out of memory for the picture");
    const uint8_t* src[4] = {rows.data(), nullptr, nullptr, nullptr};
    int src_stride[4] = {info_.width * static_cast<int>(info_.bits / 8), 0, 0, 0};
    if (info_.bits == 8) {
      src[1] = info_.palette.data();
      src_stride[1] = 0;
    }
    sws_scale(scale_.get(), src, src_stride, 0, info_.height, frame_->data, frame_->linesize);
    PadLuma();
    frame_->pts = slot;
    return EncodeAndWrite(encoder_.get(), frame_.get(), muxer_, stream_, error);
  }
  bool Finish(std::string* error) { return EncodeAndWrite(encoder_.get(), nullptr, muxer_, stream_, error); }

 private:
  // The extra column and row of a 4:2:0 picture repeat the last ones.
  void PadLuma() {
    if (frame_->width == info_.width && frame_->height == info_.height) return;
    if (frame_->format != AV_PIX_FMT_YUV420P) return;
    uint8_t* y = frame_->data[0];
    const int ls = frame_->linesize[0];
    if (frame_->width > info_.width) {
      for (int r = 0; r < info_.height; ++r) y[r * ls + info_.width] = y[r * ls + info_.width - 1];
    }
    if (frame_->height > info_.height) {
      std::memcpy(y + info_.height * ls, y + (info_.height - 1) * ls, static_cast<size_t>(frame_->width));
    }
  }

  Muxer* muxer_ = nullptr;
  RawVideoInfo info_;
  CodecContext encoder_;
  AVStream* stream_ = nullptr;
  std::unique_ptr<SwsContext, SwsFree> scale_;
  Frame frame_;
};

// The sound: the recording's MP3 frames, copied or coded again as Opus, each
// at its place on the time line (the sound may begin after the picture).
class SoundTrack {
 public:
  bool Open(const ConvertTarget& target, AudioExport sound, Muxer* muxer, std::string* error) {
    sound_ = std::move(sound);
    muxer_ = muxer;
    if (sound_.sample_rate == 0 || sound_.channels == 0 || sound_.channels > 2) {
      return Fail(error, "the recording's sound format cannot be converted");
    }
    parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
    const AVCodec* mp3 = avcodec_find_decoder(AV_CODEC_ID_MP3);
    if (parser_ == nullptr || mp3 == nullptr) return Fail(error, "libavcodec cannot read MP3 here");
    parse_context_.reset(avcodec_alloc_context3(mp3));
    if (parse_context_ == nullptr) return Fail(error, "out of memory");
    stream_ = muxer->AddStream();
    if (stream_ == nullptr) return Fail(error, "out of memory");
    packet_.reset(av_packet_alloc());
    if (packet_ == nullptr) return Fail(error, "out of memory");
    if (!target.opus_sound) {
      AVCodecParameters* par = stream_->codecpar;
      par->codec_type = AVMEDIA_TYPE_AUDIO;
      par->codec_id = AV_CODEC_ID_MP3;
      par->sample_rate = static_cast<int>(sound_.sample_rate);
      av_channel_layout_default(&par->ch_layout, sound_.channels);
      stream_->time_base = AVRational{1, par->sample_rate};
      return true;
    }
    return OpenOpus(error);
  }

  // Writes the sound that begins before ms on the time line.
  bool WriteUntil(double ms, std::string* error) {
    while (next_ms_ < ms && !drained_) {
      uint8_t* data = nullptr;
      int size = 0;
      if (at_ < sound_.mp3.size()) {
        const int used =
            av_parser_parse2(parser_.get(), parse_context_.get(), &data, &size, sound_.mp3.data() + at_,
                             static_cast<int>(std::min<size_t>(sound_.mp3.size() - at_, 1 << 20)), AV_NOPTS_VALUE,
                             AV_NOPTS_VALUE, 0);
        if (used < 0) return Fail(error, "the recording's sound cannot be read", used);
        at_ += static_cast<size_t>(used);
      } else {
        // The parser holds the last frame until told the sound ended.
        av_parser_parse2(parser_.get(), parse_context_.get(), &data, &size, nullptr, 0, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (size == 0) drained_ = true;
      }
      if (size > 0 && !OnMp3Frame(data, size, error)) return false;
    }
    return true;
  }
  bool Finish(std::string* error) {
    if (!WriteUntil(1e300, error)) return false;
    if (encoder_ == nullptr) return true;
    if (!Resample(nullptr, 0, error) || !EncodeFifo(true, error)) return false;
    return EncodeAndWrite(encoder_.get(), nullptr, muxer_, stream_, error);
  }

 private:
  bool OpenOpus(std::string* error) {
    const AVCodec* mp3 = avcodec_find_decoder(AV_CODEC_ID_MP3);
    const AVCodec* opus = avcodec_find_encoder_by_name("libopus");
    if (opus == nullptr) return Fail(error, "libavcodec has no libopus encoder here");
    decoder_.reset(avcodec_alloc_context3(mp3));
    encoder_.reset(avcodec_alloc_context3(opus));
    if (decoder_ == nullptr || encoder_ == nullptr) return Fail(error, "out of memory");
    int r = avcodec_open2(decoder_.get(), mp3, nullptr);
    if (r < 0) return Fail(error, "the MP3 decoder cannot be opened", r);
    AVCodecContext* e = encoder_.get();
    e->sample_rate = 48000;
    e->sample_fmt = AV_SAMPLE_FMT_FLT;
    av_channel_layout_default(&e->ch_layout, sound_.channels);
    e->bit_rate = sound_.channels * 64000;
    e->time_base = AVRational{1, 48000};
    if (muxer_->NeedsGlobalHeader()) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    r = avcodec_open2(e, opus, nullptr);
    if (r < 0) return Fail(error, "the Opus encoder cannot be opened", r);
    stream_->time_base = e->time_base;
    if (avcodec_parameters_from_context(stream_->codecpar, e) < 0) return Fail(error, "out of memory");
    fifo_.reset(av_audio_fifo_alloc(e->sample_fmt, sound_.channels, 48000));
    decoded_.reset(av_frame_alloc());
    if (fifo_ == nullptr || decoded_ == nullptr) return Fail(error, "out of memory");
    encoded_pts_ = static_cast<int64_t>(sound_.first_time_stamp) * 48;
    return true;
  }

  // One MP3 frame: copied, or decoded for the Opus encoder.
  bool OnMp3Frame(const uint8_t* data, int size, std::string* error) {
    const int rate = static_cast<int>(sound_.sample_rate);
    int samples = parser_->duration > 0 ? parser_->duration : (rate >= 32000 ? 1152 : 576);
    const int64_t start = static_cast<int64_t>(sound_.first_time_stamp) * rate / 1000;
    if (av_new_packet(packet_.get(), size) < 0) return Fail(error, "out of memory");
    std::memcpy(packet_->data, data, static_cast<size_t>(size));
    packet_->pts = packet_->dts = start + samples_;
    packet_->duration = samples;
    packet_->flags |= AV_PKT_FLAG_KEY;
    samples_ += samples;
    next_ms_ = (static_cast<double>(start + samples_)) * 1000.0 / rate;
    if (encoder_ == nullptr) {
      const bool ok = muxer_->Write(packet_.get(), AVRational{1, rate}, stream_, error);
      av_packet_unref(packet_.get());
      return ok;
    }
    int r = avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (r < 0) return true;  // a damaged frame is left out; the sound goes on
    for (;;) {
      r = avcodec_receive_frame(decoder_.get(), decoded_.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
      if (r < 0) return Fail(error, "the recording's sound cannot be decoded", r);
      const bool ok = Resample(decoded_.get(), decoded_->nb_samples, error);
      av_frame_unref(decoded_.get());
      if (!ok) return false;
    }
    return EncodeFifo(false, error);
  }

  bool Resample(AVFrame* in, int samples, std::string* error) {
    if (resampler_ == nullptr) {
      if (in == nullptr) return true;
      SwrContext* s = nullptr;
      const int r = swr_alloc_set_opts2(&s, &encoder_->ch_layout, encoder_->sample_fmt, 48000, &in->ch_layout,
                                        static_cast<AVSampleFormat>(in->format), in->sample_rate, 0, nullptr);
      resampler_.reset(s);
      if (r < 0 || swr_init(s) < 0) return Fail(error, "the sound cannot be resampled");
    }
    const int room = swr_get_out_samples(resampler_.get(), samples) + 64;
    std::vector<float> out(static_cast<size_t>(room) * sound_.channels);
    uint8_t* out_planes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const int got = swr_convert(resampler_.get(), out_planes, room,
                                in != nullptr ? const_cast<const uint8_t**>(in->extended_data) : nullptr, samples);
    if (got < 0) return Fail(error, "the sound cannot be resampled", got);
    void* planes[1] = {out.data()};
    if (got > 0 && av_audio_fifo_write(fifo_.get(), planes, got) < got) return Fail(error, "out of memory");
    return true;
  }

  bool EncodeFifo(bool last, std::string* error) {
    const int frame_size = encoder_->frame_size > 0 ? encoder_->frame_size : 960;
    while (av_audio_fifo_size(fifo_.get()) >= frame_size || (last && av_audio_fifo_size(fifo_.get()) > 0)) {
      const int n = std::min(frame_size, av_audio_fifo_size(fifo_.get()));
      Frame f(av_frame_alloc());
      if (f == nullptr) return Fail(error, "out of memory");
      f->nb_samples = frame_size;  // a short last frame is filled with silence
      f->format = encoder_->sample_fmt;
      av_channel_layout_copy(&f->ch_layout, &encoder_->ch_layout);
      f->sample_rate = 48000;
      if (av_frame_get_buffer(f.get(), 0) < 0) return Fail(error, "out of memory");
      av_samples_set_silence(f->data, 0, frame_size, sound_.channels, encoder_->sample_fmt);
      void* planes[1] = {f->data[0]};
      if (av_audio_fifo_read(fifo_.get(), planes, n) < n) return Fail(error, "the sound's buffer failed");
      f->pts = encoded_pts_;
      encoded_pts_ += frame_size;
      if (!EncodeAndWrite(encoder_.get(), f.get(), muxer_, stream_, error)) return false;
    }
    return true;
  }

  AudioExport sound_;
  Muxer* muxer_ = nullptr;
  AVStream* stream_ = nullptr;
  std::unique_ptr<AVCodecParserContext, ParserFree> parser_;
  CodecContext parse_context_;
  Packet packet_;
  size_t at_ = 0;
  bool drained_ = false;
  int64_t samples_ = 0;
  double next_ms_ = 0;
  // Opus only.
  CodecContext decoder_, encoder_;
  std::unique_ptr<SwrContext, SwrFree> resampler_;
  std::unique_ptr<AVAudioFifo, FifoFree> fifo_;
  Frame decoded_;
  int64_t encoded_pts_ = 0;
};

uint32_t SlotTime(uint64_t n, uint32_t fps) { return static_cast<uint32_t>((n * 1000 + fps / 2) / fps); }

bool Convert(RecordingFile* recording, const std::string& output, const ConvertOptions& options, Muxer* muxer,
             std::string* error) {
  ConvertTarget target;
  if (!ChooseConvertTarget(output, options.lossless, &target, error)) return false;
  if (!muxer->Create(target.container, output, error)) return false;

  // The picture's format comes with the first frame; the streams are made
  // then, the sound's after the picture's.
  AudioExport sound;
  std::string sound_error;
  const bool has_sound = ExportAudio(recording, &sound, &sound_error) && sound.packets > 0;
  VideoTrack video;
  SoundTrack audio;
  bool begun = false;
  bool failed = false;
  bool cancelled = false;
  std::vector<uint8_t> held;
  uint32_t held_slot = 0;
  bool have_held = false, held_written = false;
  RawVideoInfo info;
  uint64_t total = 1;
  const bool exported = ExportRawFrames(
      recording, &info,
      [&](uint32_t slot, const std::vector<uint8_t>& rows) {
        if (options.cancelled && options.cancelled()) {
          cancelled = true;
          return false;
        }
        if (!begun) {
          if (info.fps == 0 || !video.Open(target, info, options, muxer, error) ||
              (has_sound && !audio.Open(target, sound, muxer, error)) || !muxer->Begin(error)) {
            failed = true;
            return false;
          }
          begun = true;
          total = std::max<uint64_t>(1, (static_cast<uint64_t>(recording->Duration()) * info.fps + 999) / 1000);
        }
        // Only a changed picture is coded; the last slot is written too, so
        // that the file lasts as long as the recording.
        if (!have_held || rows != held) {
          if ((has_sound && !audio.WriteUntil(SlotTime(slot, info.fps), error)) || !video.Put(slot, rows, error)) {
            failed = true;
            return false;
          }
          held = rows;
          held_written = true;
        } else {
          held_written = false;
        }
        have_held = true;
        held_slot = slot;
        if (options.progress) options.progress(static_cast<double>(slot + 1) / static_cast<double>(total));
        return true;
      },
      error);
  if (cancelled) return Fail(error, "cancelled");
  if (failed || !exported) return false;
  if (!begun) return Fail(error, "the recording has no picture to convert");
  if (!held_written) {
    if (has_sound && !audio.WriteUntil(SlotTime(held_slot, info.fps), error)) return false;
    if (!video.Put(held_slot, held, error)) return false;
  }
  if (!video.Finish(error)) return false;
  if (has_sound && !audio.Finish(error)) return false;
  return muxer->End(error);
}

}  // namespace

bool ChooseConvertTarget(const std::string& output, bool lossless, ConvertTarget* target, std::string* error) {
  const std::string ext = Lower(std::filesystem::path(output).extension().string());
  if (ext == ".webm") {
    if (lossless) return Fail(error, "a WebM file has no lossless picture: use .mp4 or .mkv with --lossless");
    *target = ConvertTarget{"webm", "libvpx-vp9", true};
  } else if (ext == ".mkv") {
    *target = ConvertTarget{"matroska", lossless ? "ffv1" : "libx264", false};
  } else {
    *target = ConvertTarget{"mp4", lossless ? "libx264rgb" : "libx264", false};
  }
  return true;
}

bool ConvertRecording(RecordingFile* recording, const std::string& output, const ConvertOptions& options,
                      std::string* error) {
  QuietLibavLog();
  bool ok = false;
  bool opened = false;
  {
    Muxer muxer;
    ok = Convert(recording, output, options, &muxer, error);
    opened = muxer.Opened();
  }
  // Nothing half-written is left behind.
  if (!ok && opened) std::remove(output.c_str());
  return ok;
}

}  // namespace kmr
