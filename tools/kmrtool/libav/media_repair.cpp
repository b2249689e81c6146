#include "tools/kmrtool/media_repair.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "recorder/outputs/avi/avi_check.h"
#include "shared/libav/libav_util.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace kmr {

namespace {

constexpr size_t kMaxAllocation = 256u * 1024u * 1024u;

struct Kind {
  const char* name;
  const char* muxer;
};

// What the demuxer found, as the recorder writes it.
bool KindOf(const AVFormatContext* in, Kind* kind) {
  const std::string name = in->iformat->name;
  if (name == "avi") return *kind = {"AVI", "avi"}, true;
  if (name == "asf") return *kind = {"Windows Media", "asf"}, true;
  if (name.find("matroska") != std::string::npos) return *kind = {"Matroska", "matroska"}, true;
  if (name.find("mp4") != std::string::npos || name.find("mov") != std::string::npos) {
    // The own codecs have no MP4 code: such files are the QuickTime flavour.
    for (unsigned i = 0; i < in->nb_streams; ++i) {
      if (in->streams[i]->codecpar->codec_id == AV_CODEC_ID_NONE) return *kind = {"MP4", "mov"}, true;
    }
    return *kind = {"MP4", "mp4"}, true;
  }
  return false;
}

// An MP4 file's top-level boxes: whether it has its index and no fragments.
bool PlainMp4(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  bool moov = false, moof = false;
  uint64_t at = 0;
  for (int n = 0; n < 100000 && f; ++n) {
    uint8_t h[16];
    f.seekg(static_cast<std::streamoff>(at));
    if (!f.read(reinterpret_cast<char*>(h), 8)) break;
    uint64_t size = static_cast<uint64_t>(h[0]) << 24 | static_cast<uint64_t>(h[1]) << 16 |
                    static_cast<uint64_t>(h[2]) << 8 | h[3];
    const std::string type(reinterpret_cast<const char*>(h + 4), 4);
    if (size == 1) {
      if (!f.read(reinterpret_cast<char*>(h + 8), 8)) break;
      size = 0;
      for (int i = 8; i < 16; ++i) size = size << 8 | h[i];
    }
    if (size < 8) break;
    moov = moov || type == "moov";
    moof = moof || type == "moof";
    at += size;
  }
  return moov && !moof;
}

bool Whole(const AVFormatContext* in, const Kind& kind, const std::string& path) {
  const std::string k = kind.name;
  if (k == "AVI") {
    std::string why;
    return AviFileFinished(path, &why);
  }
  if (k == "MP4") return PlainMp4(path);
  // Matroska and Windows Media keep their length in the header, written
  // when the file is finished.
  return in->duration != AV_NOPTS_VALUE && in->duration > 0;
}

struct Contexts {
  AVFormatContext* in = nullptr;
  AVFormatContext* out = nullptr;
  ~Contexts() {
    avformat_close_input(&in);
    if (out != nullptr) {
      if (out->pb != nullptr) avio_closep(&out->pb);
      avformat_free_context(out);
    }
  }
};

}  // namespace

bool RepairMediaFile(const std::string& in_path, const std::string& out_path, MediaRepairReport* report,
                     std::string* error) {
  QuietLibavLog();
  // Sizes come from a damaged file: the library allocates no single block
  // larger than the largest packet a recording can hold (a 128 MB surface)
  // and a margin, however large a table the file claims.
  av_max_alloc(kMaxAllocation);
  std::error_code ec;
  if (std::filesystem::equivalent(in_path, out_path, ec)) return *error = "the repair is never written over its input", false;
  Contexts c;
  int r = avformat_open_input(&c.in, in_path.c_str(), nullptr, nullptr);
  if (r < 0) return *error = in_path + ": not a recording this program can repair (" + LibavError(r) + ")", false;
  Kind kind{};
  if (!KindOf(c.in, &kind)) return *error = in_path + ": not a kind of file the recorder writes", false;
  report->kind = kind.name;
  avformat_find_stream_info(c.in, nullptr);
  if (Whole(c.in, kind, in_path)) {
    std::filesystem::copy_file(in_path, out_path, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return *error = "cannot write " + out_path + ": " + ec.message(), false;
    report->whole = true;
    report->duration_ms = c.in->duration > 0 ? static_cast<uint32_t>(c.in->duration / 1000) : 0;
    return true;
  }
  const auto fail = [&](const std::string& why) {
    *error = why;
    if (c.out != nullptr && c.out->pb != nullptr) avio_closep(&c.out->pb);
    std::filesystem::remove(out_path, ec);
    return false;
  };
  if (avformat_alloc_output_context2(&c.out, nullptr, kind.muxer, out_path.c_str()) < 0 || c.out == nullptr) {
    return fail(std::string("the ") + kind.muxer + " writer is not available");
  }
  for (unsigned i = 0; i < c.in->nb_streams; ++i) {
    AVStream* st = avformat_new_stream(c.out, nullptr);
    if (st == nullptr || avcodec_parameters_copy(st->codecpar, c.in->streams[i]->codecpar) < 0) {
      return fail("out of memory for a stream");
    }
    // The muxer names the coding itself, except AVI, which keeps the tags.
    if (std::string(kind.muxer) != "avi" && st->codecpar->codec_id != AV_CODEC_ID_NONE) st->codecpar->codec_tag = 0;
    st->time_base = c.in->streams[i]->time_base;
    st->avg_frame_rate = c.in->streams[i]->avg_frame_rate;
    av_dict_copy(&st->metadata, c.in->streams[i]->metadata, 0);
  }
  av_dict_copy(&c.out->metadata, c.in->metadata, 0);
  r = avio_open(&c.out->pb, out_path.c_str(), AVIO_FLAG_WRITE);
  if (r < 0) return fail("cannot write " + out_path + ": " + LibavError(r));
  AVDictionary* options = nullptr;
  if (std::string(kind.name) == "MP4") av_dict_set(&options, "movflags", "faststart", 0);
  r = avformat_write_header(c.out, &options);
  av_dict_free(&options);
  if (r < 0) return fail("cannot write " + out_path + ": " + LibavError(r));
  AVPacket* packet = av_packet_alloc();
  if (packet == nullptr) return fail("out of memory for a packet");
  int64_t end_ms = 0;
  // Every packet that can be read; a torn one at the end stops the reading.
  while (av_read_frame(c.in, packet) >= 0) {
    const unsigned index = static_cast<unsigned>(packet->stream_index);
    if (index < c.out->nb_streams && packet->size > 0) {
      const AVRational from = c.in->streams[index]->time_base;
      if (packet->pts != AV_NOPTS_VALUE) {
        end_ms = std::max(end_ms, av_rescale_q(packet->pts + std::max<int64_t>(packet->duration, 0), from,
                                               AVRational{1, 1000}));
      }
      av_packet_rescale_ts(packet, from, c.out->streams[index]->time_base);
      packet->pos = -1;
      packet->stream_index = static_cast<int>(index);
      r = av_interleaved_write_frame(c.out, packet);
      if (r < 0) {
        av_packet_free(&packet);
        return fail("cannot write " + out_path + ": " + LibavError(r));
      }
      ++report->packets;
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  if (report->packets == 0) return fail(in_path + ": no packet of it can be read");
  r = av_write_trailer(c.out);
  if (r < 0 || c.out->pb->error < 0) return fail("cannot write " + out_path + ": " + LibavError(r < 0 ? r : c.out->pb->error));
  r = avio_closep(&c.out->pb);
  if (r < 0) return fail("cannot write " + out_path + ": " + LibavError(r));
  report->duration_ms = static_cast<uint32_t>(std::min<int64_t>(end_ms, 0xFFFFFFFF));
  return true;
}

}  // namespace kmr
