// kmrtool: the developers' and power users' window into recordings.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "player/container_file.h"
#include "shared/codec/row_command.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "recorder/control/recording_controller.h"
#include "recorder/codecs/compressing_stage.h"
#include "recorder/codecs/installed/installed_compressor.h"
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "recorder/outputs/output_set.h"
#include "tools/kmrtool/mp3_frames.h"
#include "tools/kmrtool/offline_source.h"
#include "tools/kmrtool/probe.h"
#include "recorder/audio/mp3_encoder.h"
#include "tools/kmrtool/audio_export.h"
#include "tools/kmrtool/raw_export.h"
#include "tools/kmrtool/media_repair.h"
#include "tools/kmrtool/libav/convert.h"
#include "tools/kmrtool/repair.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: kmrtool probe FILE          describe a recording as JSON\n"
               "       kmrtool check FILE          exit 0 when FILE is a recording that plays (every frame decodes)\n"
               "       kmrtool encode -s WxH [-b 32] -r FPS [--codec lossless|lossy] -i RAW|- -o OUT.kmr\n"
               "                      [--key-interval BYTES] [--mp3 SOUND.mp3] [--compressor CODE]\n"
               "                                   raw top-down frames (BGRA at 32 bits) to a recording, with\n"
               "                                   the sound's MP3 frames; OUT.avi, .wmv (.mkv, .mp4 on Linux)\n"
               "                                   or else the stand-alone container\n"
               "       kmrtool decode IN -o RAW|-  the video as raw top-down frames, one per frame slot (IN: any\n"
               "                                   recording kmrtool probe reads)\n"
               "       kmrtool export-audio IN -o OUT.mp3\n"
               "                                   the sound's MP3 stream as it is stored\n"
               "       kmrtool encode-audio -r HZ [-q 0..9] [--constant] [--library FILE] -i RAW|- -o OUT.mp3\n"
               "                                   16-bit stereo PCM to MP3 with the recorder's encoder\n"
               "       kmrtool convert IN -o OUT [--lossless] [--quality Q]\n"
               "                                   a copy every player takes: OUT.mp4 (H.264, the MP3 sound), .mkv\n"
               "                                   (the same in Matroska) or .webm (VP9, Opus); --lossless: x264 at\n"
               "                                   qp 0 (.mp4) or FFV1 (.mkv); Q: the encoder's CRF (x264 0..51,\n"
               "                                   20; VP9 0..63, 32)\n"
               "       kmrtool repair IN -o OUT    rebuild a recording whose recorder died before it finished (any kind\n"
               "                                   the recorder writes; a whole one is copied unchanged)\n"
               "       kmrtool compressors         the installed compressors (codes for encode --compressor)\n");
  return 2;
}

bool IsTerminal(FILE* f) {
#ifdef _WIN32
  return _isatty(_fileno(f)) != 0;
#else
  return isatty(fileno(f)) != 0;
#endif
}

void BinaryMode(FILE* f) {
#ifdef _WIN32
  _setmode(_fileno(f), _O_BINARY);
#else
  (void)f;
#endif
}

int Probe(const char* path, bool json) {
  std::string why;
  const std::unique_ptr<kmr::RecordingFile> opened = kmr::OpenRecordingFile(path, &why);
  if (opened == nullptr) {
    std::fprintf(stderr, "%s: %s\n", path, why.c_str());
    return 1;
  }
  kmr::RecordingFile& file = *opened;
  const kmr::ProbeReport report = kmr::ProbeContainer(&file);
  if (json) {
    std::fputs(kmr::ProbeToJson(file, report).c_str(), stdout);
    if (report.read_error) std::fprintf(stderr, "%s: %s\n", path, report.problem.c_str());
    return report.read_error ? 1 : 0;
  }
  if (!report.problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", path, report.problem.c_str());
    return 1;
  }
  // "check" means "this plays": the formats are sound and every frame decodes.
  std::string problem;
  if (!kmr::CheckPlayable(&file, &problem)) {
    std::fprintf(stderr, "%s: %s\n", path, problem.c_str());
    return 1;
  }
  return 0;
}

bool ParseSize(const char* text, int32_t* w, int32_t* h) {
  char* end = nullptr;
  const long a = std::strtol(text, &end, 10);
  if (end == text || (*end != 'x' && *end != 'X')) return false;
  const char* second = end + 1;
  const long b = std::strtol(second, &end, 10);
  if (end == second || *end != '\0') return false;
  if (a <= 0 || b <= 0 || a >= kmr::kMaxCodecDimension || b >= kmr::kMaxCodecDimension) return false;
  *w = static_cast<int32_t>(a);
  *h = static_cast<int32_t>(b);
  return true;
}

bool ParseNumber(const char* text, unsigned long long* out) {
  char* end = nullptr;
  *out = std::strtoull(text, &end, 10);
  return end != text && *end == '\0' && text[0] != '-';
}

int Encode(int argc, char** argv) {
  int32_t w = 0, h = 0;
  unsigned long long bits = 32, fps = 0, key_interval = kmr::OfflineSource::kDefaultKeyInterval;
  const kmr::OwnCodec* codec = &kmr::OwnCodecs().front();
  const char* in = nullptr;
  const char* out = nullptr;
  const char* mp3 = nullptr;
  const char* compressor_code = nullptr;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has = i + 1 < argc;
    if (a == "--mp3" && has) {
      mp3 = argv[++i];
    } else if (a == "--compressor" && has) {
      compressor_code = argv[++i];
      if (std::strlen(compressor_code) != 4) return std::fprintf(stderr, "kmrtool: a compressor is named by its 4-character code\n"), 2;
    } else if (a == "-s" && has) {
      if (!ParseSize(argv[++i], &w, &h)) return std::fprintf(stderr, "kmrtool: bad size %s\n", argv[i]), 2;
    } else if (a == "-b" && has) {
      if (!ParseNumber(argv[++i], &bits) || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return std::fprintf(stderr, "kmrtool: bits per pixel must be 8, 16, 24 or 32\n"), 2;
      }
    } else if (a == "-r" && has) {
      if (!ParseNumber(argv[++i], &fps) || fps == 0 || fps > 1000) {
        return std::fprintf(stderr, "kmrtool: frame rate must be 1 to 1000\n"), 2;
      }
    } else if (a == "--codec" && has) {
      codec = kmr::FindOwnCodec(argv[++i]);
      if (codec == nullptr) {
        return std::fprintf(stderr, "kmrtool: --codec takes one of: %s\n", kmr::OwnCodecOptions().c_str()), 2;
      }
    } else if (a == "-i" && has) {
      in = argv[++i];
    } else if (a == "-o" && has) {
      out = argv[++i];
    } else if (a == "--key-interval" && has) {
      if (!ParseNumber(argv[++i], &key_interval)) return std::fprintf(stderr, "kmrtool: bad key interval\n"), 2;
    } else {
      return Usage();
    }
  }
  if (w == 0 || fps == 0 || in == nullptr || out == nullptr) return Usage();
  if (w % 2 || h % 2) {
    std::fprintf(stderr, "kmrtool: note: the recording's frame is %dx%d (sizes are stored even)\n", w + w % 2,
                 h + h % 2);
  }

  FILE* input = stdin;
  if (std::strcmp(in, "-") == 0) {
    BinaryMode(stdin);
  } else if ((input = std::fopen(in, "rb")) == nullptr) {
    return std::fprintf(stderr, "kmrtool: cannot open %s\n", in), 1;
  }
  auto source = std::make_unique<kmr::OfflineSource>(w, h, static_cast<uint32_t>(bits),
                                                     static_cast<uint32_t>(fps), codec);
  if (!source->Ok()) {
    if (input != stdin) std::fclose(input);
    return std::fprintf(stderr, "kmrtool: %s\n", source->Error().c_str()), 1;
  }
  source->SetKeyInterval(key_interval);
  kmr::Mp3Frames sound;
  std::string error;
  if (mp3 != nullptr && !sound.Load(mp3, &error)) {
    if (input != stdin) std::fclose(input);
    return std::fprintf(stderr, "kmrtool: %s\n", error.c_str()), 1;
  }
  // The output set of the extension; the stand-alone container for any
  // other (the self-playing file without its player).
  const kmr::OutputKind kind = kmr::OutputKindForPath(out);
  kmr::OutputSet output = kind == kmr::OutputKind::kExecutable ? kmr::MakeContainerOutputSet() : kmr::MakeOutputSet(kind);
  if (mp3 == nullptr) output.audio.reset();
  kmr::MediaWriter& writer = *output.writer;
  writer.SetPath(out);
  // An installed compressor codes the frames itself: they go to it whole,
  // bottom-up, and only when they changed.
  kmr::InstalledCompressor compressor(kmr::MakeSystemCompressorManager());
  const bool compressing = compressor_code != nullptr;
  if (compressing) {
    if (!output.takes_compressor || bits != 32) {
      if (input != stdin) std::fclose(input);
      return std::fprintf(stderr, "kmrtool: an installed compressor takes 32-bit frames into AVI or Windows Media\n"), 2;
    }
    std::vector<std::string> names;
    compressor.SetInputFormat(kmr::InstalledCompressor::ListingFormat());
    compressor.List(&names);
    const int index = compressor.Find(kmr::FourCc(compressor_code[0], compressor_code[1], compressor_code[2],
                                                  compressor_code[3]));
    std::vector<uint8_t> header;
    kmr::ByteWriter hw(&header);
    kmr::BitmapInfoHeader bih;
    bih.width = w;
    bih.height = h;  // positive: bottom-up
    bih.bit_count = 32;
    bih.size_image = static_cast<uint32_t>(w) * static_cast<uint32_t>(h) * 4;
    bih.Write(hw);
    if (index < 0 || !compressor.Select(index) || !compressor.StartFrames(header, static_cast<uint32_t>(fps), 1)) {
      if (input != stdin) std::fclose(input);
      return std::fprintf(stderr, "kmrtool: the compressor %s is not installed or refuses %dx%d frames\n",
                          compressor_code, w, h),
             1;
    }
  }
  kmr::VideoStream& video = *output.video;
  // The compressor codes the frames in front of the stream, on its own
  // time line; the own codec's frames go to the stream as they are.
  kmr::CompressingStage compressing_stage;
  kmr::FrameTimebase timebase = kmr::FrameTimebase::Fps(static_cast<uint32_t>(fps));
  const bool attached = compressing ? video.Attach(kmr::FormatOf(compressor)) : video.Attach(kmr::FormatOf(*source));
  if (!attached || (output.audio != nullptr && !output.audio->Attach(kmr::FormatOf(sound)))) {
    if (input != stdin) std::fclose(input);
    return std::fprintf(stderr, "kmrtool: the %s output cannot hold these streams\n", kmr::Describe(kind).name), 1;
  }
  if (compressing) {
    compressing_stage.Begin(&compressor, &video);
    timebase = compressing_stage.Timebase();
  }
  kmr::PacketSink& frames = compressing ? static_cast<kmr::PacketSink&>(compressing_stage) : video;
  kmr::FrameGrid grid;
  video.SetWriter(&writer);
  writer.AddStream(&video);
  if (output.audio != nullptr) {
    output.audio->SetWriter(&writer);
    writer.AddStream(output.audio.get());
  }
  if (!writer.Open()) {
    if (input != stdin) std::fclose(input);
    // The recorder's own text for a file it cannot start writing.
    std::string text = kmr::texts::kOpenFailed;
    text.replace(text.find("%s"), 2, out);
    const std::string cause = writer.Error();
    return std::fprintf(stderr, "kmrtool: %s%s%s\n", (std::string(kmr::texts::kCannotStart) + text).c_str(),
                        cause.empty() ? "" : "\n\n", cause.c_str()),
           1;
  }
  std::vector<uint8_t> raw(source->RawFrameBytes()), previous, flipped(compressing ? raw.size() : 0);
  uint32_t n = 0;
  size_t next_sound = 0;
  int rc = 0;
  // The sound up to a time, in its own frames.
  const auto submit_sound = [&](uint64_t until_ms) {
    for (; next_sound < sound.Frames().size() && sound.Frames()[next_sound].time_ms < until_ms; ++next_sound) {
      const kmr::Mp3Frames::Frame& f = sound.Frames()[next_sound];
      kmr::MediaPacket coded;
      coded.data = sound.Data(f);
      coded.size = f.size;
      coded.time_stamp = f.time_ms;
      coded.duration = f.duration_ms;
      if (!output.audio->Put(coded)) return false;
    }
    return true;
  };
  for (;;) {
    const size_t got = std::fread(raw.data(), 1, raw.size(), input);
    if (got == 0) break;
    if (got != raw.size()) {
      std::fprintf(stderr, "kmrtool: the input ends inside frame %u; that partial frame is left out\n", n);
      break;
    }
    const uint32_t t = kmr::FrameGrid::SlotTime(n, static_cast<uint32_t>(fps));
    const kmr::MediaPacket place = grid.Place(timebase, t);
    bool submitted = false;
    if (compressing) {
      const bool changed = n == 0 || raw != previous;
      if (changed) {
        for (int32_t y = 0; y < h; ++y) {
          std::memcpy(flipped.data() + static_cast<size_t>(h - 1 - y) * w * 4,
                      raw.data() + static_cast<size_t>(y) * w * 4, static_cast<size_t>(w) * 4);
        }
        previous = raw;
      }
      kmr::MediaPacket frame = place;
      frame.data = changed ? flipped.data() : nullptr;
      frame.size = changed ? static_cast<uint32_t>(flipped.size()) : 0;
      submitted = (output.audio == nullptr || submit_sound(t + 1)) && frames.Put(frame);
    } else {
      if (!source->EncodeFrame(raw.data())) {
        std::fprintf(stderr, "kmrtool: encoding frame %u failed\n", n);
        rc = 1;
        break;
      }
      submitted = (output.audio == nullptr || submit_sound(t + 1)) &&
                  frames.Put(kmr::EncodedFrame(*source, place.time_stamp, place.duration, place.slot));
    }
    if (!submitted) {
      std::fprintf(stderr, "kmrtool: writing frame %u failed\n", n);
      rc = 1;
      break;
    }
    grid.Take(place);
    ++n;
  }
  if (rc == 0 && output.audio != nullptr && !submit_sound(UINT64_MAX)) {
    std::fprintf(stderr, "kmrtool: writing the sound failed\n");
    rc = 1;
  }
  if (compressing) compressor.FinishFrames();
  if (!writer.Close() && rc == 0) {
    std::fprintf(stderr, "kmrtool: finishing %s failed: %s\n", out, writer.Error().c_str());
    rc = 1;
  }
  if (input != stdin) std::fclose(input);
  if (rc == 0 && n == 0) std::fprintf(stderr, "kmrtool: the input holds no whole frame\n");
  return rc;
}

// IN -o OUT, in either order.
bool ParseInOut(int argc, char** argv, const char** in, const char** out) {
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) {
      *out = argv[++i];
    } else if (*in == nullptr && a[0] != '-') {
      *in = argv[i];
    } else {
      return false;
    }
  }
  return *in != nullptr && *out != nullptr;
}

int Decode(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  if (!ParseInOut(argc, argv, &in, &out)) return Usage();
  std::string why;
  const std::unique_ptr<kmr::RecordingFile> opened = kmr::OpenRecordingFile(in, &why);
  if (opened == nullptr) return std::fprintf(stderr, "%s: %s\n", in, why.c_str()), 1;
  kmr::RecordingFile& file = *opened;
  FILE* output = stdout;
  if (std::strcmp(out, "-") == 0) {
    BinaryMode(stdout);
  } else if ((output = std::fopen(out, "wb")) == nullptr) {
    return std::fprintf(stderr, "kmrtool: cannot write %s\n", out), 1;
  }
  kmr::RawVideoInfo info;
  std::string error;
  bool write_failed = false;
  const bool ok = kmr::ExportRawFrames(&file, &info,
                                       [&](uint32_t, const std::vector<uint8_t>& rows) {
                                         if (std::fwrite(rows.data(), 1, rows.size(), output) != rows.size()) {
                                           write_failed = true;
                                           return false;
                                         }
                                         return true;
                                       },
                                       &error);
  if (output != stdout) {
    if (std::fclose(output) != 0) write_failed = true;
  } else if (std::fflush(stdout) != 0) {
    write_failed = true;
  }
  if (!ok) return std::fprintf(stderr, "%s: %s\n", in, error.c_str()), 1;
  if (write_failed) return std::fprintf(stderr, "kmrtool: writing the frames failed\n"), 1;
  std::fprintf(stderr, "%dx%d, %u bits, %u fps\n", info.width, info.height, info.bits, info.fps);
  return 0;
}

volatile sig_atomic_t g_cancel = 0;
void OnCancel(int) { g_cancel = 1; }

std::string Clock(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%ld:%02ld", s / 60, s % 60);
  return buf;
}

int Convert(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  kmr::ConvertOptions options;
  std::vector<char*> rest = {argv[0], argv[1]};
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--lossless") {
      options.lossless = true;
    } else if (a == "--quality" && i + 1 < argc) {
      char* end = nullptr;
      const long q = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || q < 0 || q > 63) {
        return std::fprintf(stderr, "kmrtool: --quality takes a number from 0 to 63\n"), 2;
      }
      options.quality = static_cast<int>(q);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (!ParseInOut(static_cast<int>(rest.size()), rest.data(), &in, &out)) return Usage();
  if (options.lossless && options.quality >= 0) {
    return std::fprintf(stderr, "kmrtool: --lossless and --quality do not go together\n"), 2;
  }
  kmr::ConvertTarget target;
  std::string error;
  if (!kmr::ChooseConvertTarget(out, options.lossless, &target, &error)) {
    return std::fprintf(stderr, "kmrtool: %s\n", error.c_str()), 2;
  }
  // The recording is only read: an output naming it is refused.
  std::error_code ec;
  if (std::filesystem::equivalent(in, out, ec)) {
    return std::fprintf(stderr, "kmrtool: %s is the recording itself; name another output\n", out), 2;
  }
  const std::unique_ptr<kmr::RecordingFile> opened = kmr::OpenRecordingFile(in, &error);
  if (opened == nullptr) return std::fprintf(stderr, "%s: %s\n", in, error.c_str()), 1;
  // Ctrl-C, a closed terminal or SIGTERM stop the conversion and remove the
  // half-written output.
  std::signal(SIGINT, OnCancel);
  std::signal(SIGTERM, OnCancel);
#ifdef SIGHUP
  std::signal(SIGHUP, OnCancel);
#endif
  options.cancelled = [] { return g_cancel != 0; };
  const double length_s = opened->Duration() / 1000.0;
  const auto started = std::chrono::steady_clock::now();
  auto last_shown = started;
  const bool terminal = IsTerminal(stderr);
  if (terminal) {
    options.progress = [&](double done) {
      const auto now = std::chrono::steady_clock::now();
      if (now - last_shown < std::chrono::milliseconds(250) && done < 1.0) return;
      last_shown = now;
      const double spent = std::chrono::duration<double>(now - started).count();
      const double speed = spent > 0 ? done * length_s / spent : 0;
      const double left = done > 0 ? spent * (1 - done) / done : 0;
      std::fprintf(stderr, "\rconverting %3.0f%%  %.1fx  %s left   ", done * 100, speed, Clock(left).c_str());
      std::fflush(stderr);
    };
  }
  const bool ok = kmr::ConvertRecording(opened.get(), out, options, &error);
  if (terminal) std::fputc('\n', stderr);
  if (!ok) return std::fprintf(stderr, "kmrtool: %s: %s\n", out, error.c_str()), 1;
  const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "kmrtool: wrote %s (%s of recording in %.1f s)\n", out, Clock(length_s).c_str(), spent);
  return 0;
}

int Repair(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  if (!ParseInOut(argc, argv, &in, &out)) return Usage();
  kmr::RepairReport report;
  std::string error;
  if (kmr::RepairRecording(in, out, &report, &error)) {
    std::fprintf(stderr, "kmrtool: %s: %llu packets kept (%u ms), %llu damaged bytes dropped\n", out,
                 static_cast<unsigned long long>(report.packets), report.duration,
                 static_cast<unsigned long long>(report.bytes_dropped));
    return 0;
  }
  // Not the own container: one of the files written through a media library.
  kmr::MediaRepairReport media;
  std::string media_error;
  if (!kmr::RepairMediaFile(in, out, &media, &media_error)) {
    std::fprintf(stderr, "kmrtool: %s (%s)\n", media_error.c_str(), error.c_str());
    return 1;
  }
  if (media.whole) {
    std::fprintf(stderr, "kmrtool: %s: the %s file is whole; copied unchanged\n", out, media.kind.c_str());
  } else {
    std::fprintf(stderr, "kmrtool: %s: %s file rebuilt from %llu packets (%u ms)\n", out, media.kind.c_str(),
                 static_cast<unsigned long long>(media.packets), media.duration_ms);
  }
  return 0;
}

}  // namespace

int ExportAudioCommand(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  if (!ParseInOut(argc, argv, &in, &out)) return Usage();
  std::string why;
  const std::unique_ptr<kmr::RecordingFile> opened = kmr::OpenRecordingFile(in, &why);
  if (opened == nullptr) return std::fprintf(stderr, "kmrtool: %s: %s\n", in, why.c_str()), 1;
  kmr::RecordingFile& file = *opened;
  kmr::AudioExport sound;
  std::string error;
  if (!kmr::ExportAudio(&file, &sound, &error)) return std::fprintf(stderr, "kmrtool: %s: %s\n", in, error.c_str()), 1;
  std::FILE* f = std::strcmp(out, "-") == 0 ? stdout : std::fopen(out, "wb");
  if (f == nullptr) return std::fprintf(stderr, "kmrtool: cannot create %s\n", out), 1;
  const bool written = std::fwrite(sound.mp3.data(), 1, sound.mp3.size(), f) == sound.mp3.size();
  const bool closed = f == stdout ? std::fflush(f) == 0 : std::fclose(f) == 0;
  if (!written || !closed) return std::fprintf(stderr, "kmrtool: cannot write %s\n", out), 1;
  std::fprintf(stderr, "kmrtool: %u packets, %zu bytes of MP3 at %u Hz, %u channels, starting at %u ms\n",
               sound.packets, sound.mp3.size(), sound.sample_rate, sound.channels, sound.first_time_stamp);
  return 0;
}

// The installed compressors that take 32-bit frames: code and description.
int CompressorsCommand() {
  kmr::InstalledCompressor compressor(kmr::MakeSystemCompressorManager());
  compressor.SetInputFormat(kmr::InstalledCompressor::ListingFormat());
  std::vector<std::string> names;
  compressor.List(&names);
  for (size_t i = 0; i < compressor.Count(); ++i) {
    const uint32_t c = compressor.EntryInfo(i).handler;
    const char code[5] = {static_cast<char>(c), static_cast<char>(c >> 8), static_cast<char>(c >> 16),
                          static_cast<char>(c >> 24), 0};
    compressor.Select(static_cast<int>(i));
    std::printf("%s  %s%s\n", code, names[i].c_str(), compressor.HasConfigureDialog() ? " (has a dialog)" : "");
  }
  return 0;
}

// Codes raw 16-bit stereo PCM block by block, as a recording does.
int EncodeAudioCommand(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  const char* library = nullptr;
  bool constant = false;  // the AVI stream's constant rate; else variable, as the container's
  unsigned long long rate = 0, quality = 5;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has = i + 1 < argc;
    if (a == "-r" && has) {
      if (!ParseNumber(argv[++i], &rate) || rate < 8000 || rate > 192000) return Usage();
    } else if (a == "-q" && has) {
      if (!ParseNumber(argv[++i], &quality) || quality > 9) return Usage();
    } else if (a == "--library" && has) {
      library = argv[++i];
    } else if (a == "--constant") {
      constant = true;
    } else if (a == "-i" && has) {
      in = argv[++i];
    } else if (a == "-o" && has) {
      out = argv[++i];
    } else {
      return Usage();
    }
  }
  if (rate == 0 || in == nullptr || out == nullptr) return Usage();
  kmr::Mp3Encoder encoder;
  if (!encoder.Load(library)) return std::fprintf(stderr, "kmrtool: %s\n", encoder.Error().c_str()), 1;
  encoder.SetChannels(2);
  encoder.SetSampleRate(static_cast<uint32_t>(rate));
  encoder.SetQuality(static_cast<int>(quality));
  encoder.SetVariableBitRate(!constant);
  if (!encoder.Init()) return std::fprintf(stderr, "kmrtool: the encoder refused the settings\n"), 1;
  std::FILE* src = std::strcmp(in, "-") == 0 ? stdin : std::fopen(in, "rb");
  std::FILE* dst = std::fopen(out, "wb");
  if (src == nullptr || dst == nullptr) return std::fprintf(stderr, "kmrtool: cannot open the files\n"), 1;
  std::vector<uint8_t> block(encoder.GetInputBlockBytes());
  bool ok = true;
  uint64_t blocks = 0;
  for (;;) {
    const size_t got = std::fread(block.data(), 1, block.size(), src);
    if (got == 0) break;
    std::fill(block.begin() + static_cast<long>(got), block.end(), 0);  // the last block is filled with silence
    ok = encoder.EncodeBlock(block.data()) &&
         std::fwrite(encoder.Output(), 1, encoder.OutputBytes(), dst) == encoder.OutputBytes() && ok;
    ++blocks;
    if (got < block.size()) break;
  }
  encoder.Flush();
  ok = std::fwrite(encoder.Output(), 1, encoder.OutputBytes(), dst) == encoder.OutputBytes() && ok;
  if (src != stdin) std::fclose(src);
  ok = std::fclose(dst) == 0 && ok;
  if (!ok) return std::fprintf(stderr, "kmrtool: cannot write %s\n", out), 1;
  std::fprintf(stderr, "kmrtool: %llu blocks at %llu Hz, %u..%u kbit/s\n", static_cast<unsigned long long>(blocks),
               rate, encoder.BitRate(), encoder.MaxBitRate());
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "probe" && argc == 3) return Probe(argv[2], true);
  if (command == "check" && argc == 3) return Probe(argv[2], false);
  if (command == "encode") return Encode(argc, argv);
  if (command == "decode") return Decode(argc, argv);
  if (command == "repair") return Repair(argc, argv);
  if (command == "convert") return Convert(argc, argv);
  if (command == "export-audio") return ExportAudioCommand(argc, argv);
  if (command == "encode-audio") return EncodeAudioCommand(argc, argv);
  if (command == "compressors") return CompressorsCommand();
  return Usage();
}
