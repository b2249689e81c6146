// The AVI file library over libavformat. Streams are collected until the
// first sample (or the release) and the header is written then, so the
// muxer sees every stream: the file's extension picks it (".mkv" Matroska,
// ".mp4" MP4 — the QuickTime flavour when a stream's coding has no MP4 code,
// as the own codecs have not — else AVI). A stream's time base is scale /
// rate and a sample's time its index, as in AVIFile; a stream with a sample
// size counts samples of that many bytes.
//
// A recorder that is killed, or a session that ends under it, loses at most
// the last second: the muxer's own buffers (a Matroska cluster, an MP4
// fragment) and the file's are handed to the system at least once a second
// of recording, and MP4 is written fragmented while it records (a fragment
// at least every second, playable as it stands), then made a plain MP4 with
// its index at the front once the recording ends normally.
#include <algorithm>
#include <cstdio>
#include <array>
#include <cctype>
#include <memory>
#include <vector>

#include "recorder/outputs/avi/avi_file.h"
#include "shared/byte_io.h"
#include "shared/libav/libav_util.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace kmr {

namespace {

struct Track {
  AviStreamInfo info;
  std::vector<uint8_t> format;
  bool has_format = false;
  bool released = false;
  AVStream* stream = nullptr;
  int64_t length = 0;  // samples written so far (the next append index)
  AVPacket* held = nullptr;  // the video sample waiting for its end
};

class Muxer {
 public:
  explicit Muxer(std::string path) : path_(std::move(path)) {}
  ~Muxer() { Abandon(); }

  bool OpenOutput(std::string* error) {
    const int r = avio_open(&pb_, path_.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) {
      *error = LibavError(r);
      return false;
    }
    return true;
  }

  Track* AddStream(const AviStreamInfo& info) {
    if (header_written_ || failed_) return nullptr;
    tracks_.push_back(std::make_unique<Track>());
    tracks_.back()->info = info;
    return tracks_.back().get();
  }

  bool Write(Track* track, int32_t start, int32_t samples, const void* data, uint32_t size, uint32_t flags) {
    if (failed_ || track->released || samples < 0 || (size != 0 && data == nullptr)) return false;
    if (!header_written_ && !WriteHeader()) return false;
    if (track->stream == nullptr) return Fail("a sample for a stream without a format");
    const int64_t index = start < 0 ? track->length : start;
    const AVRational base{static_cast<int>(std::max<uint32_t>(track->info.scale, 1)),
                          static_cast<int>(std::max<uint32_t>(track->info.rate, 1))};
    const int64_t pts = av_rescale_q(index, base, track->stream->time_base);
    const int64_t duration = av_rescale_q(std::max(samples, 1), base, track->stream->time_base);
    const bool hold = track->info.type == kAviStreamVideo && !avi_;
    track->length = index + samples;
    if (hold && track->held != nullptr && pts > track->held->pts) {
      if (size == 0) {
        // Nothing new: the held sample lasts to this one's end.
        track->held->duration = pts + duration - track->held->pts;
        return true;
      }
      track->held->duration = pts - track->held->pts;  // it lasts until this one
      if (!WriteHeld(track)) return false;
    }
    if (hold && size == 0) return true;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, static_cast<int>(size)) < 0) {
      av_packet_free(&packet);
      return Fail("out of memory for a sample");
    }
    if (size != 0) std::copy_n(static_cast<const uint8_t*>(data), size, packet->data);
    packet->stream_index = track->stream->index;
    packet->pts = packet->dts = pts;
    packet->duration = duration;
    if ((flags & kAviKeyFrame) != 0 || track->info.type == kAviStreamAudio) packet->flags |= AV_PKT_FLAG_KEY;
    if (hold) {
      track->held = packet;
      return true;
    }
    return WritePacket(packet);
  }

  bool Finish(std::string* error) {
    bool ok = !failed_;
    if (ok && !header_written_) ok = WriteHeader();
    for (auto& s : tracks_) {
      if (ok && s->held != nullptr) ok = WriteHeld(s.get());
      av_packet_free(&s->held);
    }
    if (ok) {
      const int r = av_write_trailer(context_);
      if (r < 0) ok = Fail(LibavError(r));
    }
    if (ok && context_->pb->error < 0) ok = Fail(LibavError(context_->pb->error));
    const bool fragmented = fragmented_;
    // Where each stream ends: a fragmented file read back gives its last
    // picture the length of a frame, not the length it was held for.
    std::vector<std::pair<int64_t, AVRational>> ends;
    if (context_ != nullptr) {
      ends.assign(context_->nb_streams, {0, AVRational{1, 1}});
      for (const auto& s : tracks_) {
        if (s->stream == nullptr) continue;
        const AVRational base{static_cast<int>(std::max<uint32_t>(s->info.scale, 1)),
                              static_cast<int>(std::max<uint32_t>(s->info.rate, 1))};
        ends[static_cast<size_t>(s->stream->index)] = {av_rescale_q(s->length, base, s->stream->time_base),
                                                       s->stream->time_base};
      }
    }
    if (context_ != nullptr) {
      pb_ = context_->pb;
      context_->pb = nullptr;
      avformat_free_context(context_);
      context_ = nullptr;
    }
    const int r = avio_closep(&pb_);
    if (r < 0 && ok) ok = Fail(LibavError(r));
    // The whole recording is in the fragmented file already; the plain one
    // replaces it only when it was written in full (a full disk, say, keeps
    // the fragmented file, which plays as it is).
    if (ok && fragmented) MakePlain(ends);
    *error = error_;
    return ok;
  }

  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string why) {
    failed_ = true;
    if (error_.empty()) error_ = std::move(why);
    return false;
  }

  bool WriteHeld(Track* track) {
    AVPacket* packet = track->held;
    track->held = nullptr;
    return WritePacket(packet);
  }

  // Writes and frees the packet; at least once a second of recording the
  // muxer's buffers and the file's go to the system.
  bool WritePacket(AVPacket* packet) {
    const AVRational base = context_->streams[packet->stream_index]->time_base;
    const int64_t at_ms = av_rescale_q(packet->pts, base, AVRational{1, 1000});
    const int r = av_interleaved_write_frame(context_, packet);
    av_packet_free(&packet);
    if (r < 0) return Fail(LibavError(r));
    if (at_ms - flushed_ms_ >= kFlushMs) {
      flushed_ms_ = at_ms;
      if ((context_->oformat->flags & AVFMT_ALLOW_FLUSH) != 0) {
        const int f = av_write_frame(context_, nullptr);
        if (f < 0) return Fail(LibavError(f));
      }
      avio_flush(context_->pb);
    }
    if (context_->pb->error < 0) return Fail(LibavError(context_->pb->error));
    return true;
  }

  // The fragmented MP4 copied into a plain one with the index at the front,
  // which then takes its place; on any failure the fragmented file stays.
  void MakePlain(const std::vector<std::pair<int64_t, AVRational>>& ends) {
    const std::string plain = path_ + ".plain";
    AVFormatContext* in = nullptr;
    AVFormatContext* out = nullptr;
    bool ok = avformat_open_input(&in, path_.c_str(), nullptr, nullptr) >= 0 &&
              avformat_find_stream_info(in, nullptr) >= 0 &&
              avformat_alloc_output_context2(&out, nullptr, muxer_name_.c_str(), plain.c_str()) >= 0 && out != nullptr;
    for (unsigned i = 0; ok && i < in->nb_streams; ++i) {
      AVStream* st = avformat_new_stream(out, nullptr);
      ok = st != nullptr && avcodec_parameters_copy(st->codecpar, in->streams[i]->codecpar) >= 0;
      if (ok) {
        st->time_base = in->streams[i]->time_base;
        st->avg_frame_rate = in->streams[i]->avg_frame_rate;
        av_dict_copy(&st->metadata, in->streams[i]->metadata, 0);
      }
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "faststart", 0);
    ok = ok && avio_open(&out->pb, plain.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, &options) >= 0;
    av_dict_free(&options);
    // Each stream's packets go one behind, so that its last one can be
    // given the length it had.
    std::vector<AVPacket*> held(ok ? out->nb_streams : 0, nullptr);
    const auto write_held = [&](unsigned index) {
      AVPacket* p = held[index];
      held[index] = nullptr;
      av_packet_rescale_ts(p, in->streams[index]->time_base, out->streams[index]->time_base);
      p->pos = -1;
      const bool written = av_interleaved_write_frame(out, p) >= 0;
      av_packet_free(&p);
      return written;
    };
    while (ok) {
      AVPacket* packet = av_packet_alloc();
      if (packet == nullptr) {
        ok = false;
        break;
      }
      const int r = av_read_frame(in, packet);
      const unsigned index = static_cast<unsigned>(packet->stream_index);
      if (r < 0 || index >= held.size()) {
        av_packet_free(&packet);
        if (r == AVERROR_EOF) break;
        ok = r >= 0;
        continue;
      }
      if (held[index] != nullptr) ok = write_held(index);
      held[index] = packet;
    }
    for (unsigned i = 0; i < held.size(); ++i) {
      if (held[i] == nullptr) continue;
      if (i < ends.size() && ends[i].second.num != 0) {
        const int64_t end = av_rescale_q(ends[i].first, ends[i].second, in->streams[i]->time_base);
        if (end > held[i]->pts + held[i]->duration) held[i]->duration = end - held[i]->pts;
      }
      if (ok) {
        ok = write_held(i);
      } else {
        av_packet_free(&held[i]);
      }
    }
    ok = ok && av_write_trailer(out) >= 0 && out->pb->error >= 0;
    if (out != nullptr) {
      if (out->pb != nullptr && avio_closep(&out->pb) < 0) ok = false;
      avformat_free_context(out);
    }
    avformat_close_input(&in);
    if (ok && std::rename(plain.c_str(), path_.c_str()) == 0) return;
    std::remove(plain.c_str());
  }

  void Abandon() {
    for (auto& s : tracks_) av_packet_free(&s->held);
    if (context_ != nullptr) {
      pb_ = context_->pb;
      context_->pb = nullptr;
      avformat_free_context(context_);
      context_ = nullptr;
    }
    avio_closep(&pb_);
  }

  std::string MuxerName() const {
    std::string ext = path_.substr(path_.find_last_of('.') == std::string::npos ? path_.size()
                                                                                  : path_.find_last_of('.') + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "mkv") return "matroska";
    if (ext == "mp4") {
      for (const auto& s : tracks_) {
        if (!s->released && s->has_format && CodecOf(*s) == AV_CODEC_ID_NONE) return "mov";
      }
      return "mp4";
    }
    return "avi";
  }

  static AVCodecID CodecOf(const Track& s) {
    if (s.info.type == kAviStreamAudio) {
      return static_cast<AVCodecID>(RiffAudioCodec(LeAt(s.format, 0, 2)));
    }
    return static_cast<AVCodecID>(RiffVideoCodec(LeAt(s.format, 16, 4)));
  }

  bool Describe(Track* s) {
    AVStream* st = avformat_new_stream(context_, nullptr);
    if (st == nullptr) return Fail("out of memory for a stream");
    s->stream = st;
    AVCodecParameters* par = st->codecpar;
    std::string why;
    if (s->info.type == kAviStreamVideo) {
      if (!VideoParametersFromBitmap(s->format, par, &why)) return Fail(why);
      st->avg_frame_rate = AVRational{static_cast<int>(s->info.rate), static_cast<int>(s->info.scale)};
    } else {
      if (!AudioParametersFromWave(s->format, par, &why)) return Fail(why);
      // AVI keeps the wave format's tag; the other muxers name the coding themselves.
      if (!avi_) par->codec_tag = 0;
    }
    st->time_base = AVRational{static_cast<int>(std::max<uint32_t>(s->info.scale, 1)),
                               static_cast<int>(std::max<uint32_t>(s->info.rate, 1))};
    if (!s->info.name.empty()) av_dict_set(&st->metadata, "title", s->info.name.c_str(), 0);
    return true;
  }

  bool WriteHeader() {
    header_written_ = true;
    const std::string name = MuxerName();
    if (avformat_alloc_output_context2(&context_, nullptr, name.c_str(), path_.c_str()) < 0 || context_ == nullptr) {
      return Fail("the " + name + " writer is not available");
    }
    context_->pb = pb_;
    pb_ = nullptr;
    avi_ = name == "avi";
    for (auto& s : tracks_) {
      if (s->released || !s->has_format) continue;
      if (!Describe(s.get())) return false;
    }
    if (context_->nb_streams == 0) return Fail("the file has no streams");
    // Nothing waits longer than a second to be interleaved.
    context_->max_interleave_delta = kFlushMs * 1000;
    AVDictionary* options = nullptr;
    if (name == "matroska") {
      av_dict_set_int(&options, "cluster_time_limit", kFlushMs, 0);
    } else if (name == "mp4" || name == "mov") {
      av_dict_set(&options, "movflags", "empty_moov+default_base_moof", 0);
      av_dict_set_int(&options, "frag_duration", kFlushMs * 1000, 0);
      fragmented_ = true;
    }
    muxer_name_ = name;
    const int r = avformat_write_header(context_, &options);
    av_dict_free(&options);
    if (r < 0) return Fail(LibavError(r));
    return true;
  }

  friend class LibavAviStream;
  std::string path_;
  AVIOContext* pb_ = nullptr;
  AVFormatContext* context_ = nullptr;
  std::vector<std::unique_ptr<Track>> tracks_;
  static constexpr int64_t kFlushMs = 1000;
  bool header_written_ = false;
  bool avi_ = false;
  bool fragmented_ = false;
  std::string muxer_name_;
  int64_t flushed_ms_ = 0;
  bool failed_ = false;
  std::string error_;
};

class LibavAviStream : public AviFileStream {
 public:
  LibavAviStream(std::shared_ptr<Muxer> muxer, Track* track) : muxer_(std::move(muxer)), track_(track) {}
  ~LibavAviStream() override { track_->released = true; }

  bool SetFormat(const std::vector<uint8_t>& format) override {
    if (muxer_->header_written_ || format.size() < (track_->info.type == kAviStreamAudio ? 16u : 40u)) return false;
    track_->format = format;
    track_->has_format = true;
    return true;
  }
  bool Write(int32_t start, int32_t samples, const void* data, uint32_t size, uint32_t flags) override {
    return muxer_->Write(track_, start, samples, data, size, flags);
  }

 private:
  std::shared_ptr<Muxer> muxer_;
  Track* track_;
};

class LibavAviFile : public AviFile {
 public:
  explicit LibavAviFile(std::shared_ptr<Muxer> muxer) : muxer_(std::move(muxer)) {}
  ~LibavAviFile() override {
    std::string ignored;
    if (!released_) muxer_->Finish(&ignored);
  }

  std::unique_ptr<AviFileStream> CreateStream(const AviStreamInfo& info) override {
    if (info.type != kAviStreamVideo && info.type != kAviStreamAudio) return nullptr;
    Track* track = muxer_->AddStream(info);
    if (track == nullptr) return nullptr;
    return std::make_unique<LibavAviStream>(muxer_, track);
  }
  bool Release(std::string* error) override {
    if (released_) return true;
    released_ = true;
    return muxer_->Finish(error);
  }
  std::string Error() const override { return muxer_->Error(); }

 private:
  std::shared_ptr<Muxer> muxer_;
  bool released_ = false;
};

class LibavAviLibrary : public AviLibrary {
 public:
  LibavAviLibrary() { QuietLibavLog(); }
  std::unique_ptr<AviFile> Open(const std::string& path, uint32_t, std::string* error) override {
    auto muxer = std::make_shared<Muxer>(path);
    if (!muxer->OpenOutput(error)) return nullptr;
    return std::make_unique<LibavAviFile>(std::move(muxer));
  }
};

}  // namespace

std::unique_ptr<AviLibrary> MakeSystemAviLibrary() { return std::make_unique<LibavAviLibrary>(); }

}  // namespace kmr
