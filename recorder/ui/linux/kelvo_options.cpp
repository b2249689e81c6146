#include "recorder/ui/linux/kelvo_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "recorder/codecs/own_codecs.h"
#include "recorder/ui/pages/page_rules.h"
#include "shared/path_name.h"

namespace kmr {

const char* KelvoUsage() {
  return "usage: kelvo record [-o FILE] [--fps N]\n"
         "                    [--full | --region X,Y,W,H | --window ID | --select | --pick-window]\n"
         "                    [--border | --no-border] [--audio [SOURCE] | --no-audio]\n"
         "                    [--audio-rate HZ] [--audio-quality 0..9] [--duration SECONDS]\n"
         "                    [--codec lossless|lossy|COMPRESSOR] [--codec-options K=V,...]\n"
         "                    [--player PATH] [--key-interval BYTES]\n"
         "                    [--format exe|avi|wmv|mkv|mp4] [--title T] [--author T]\n"
         "                    [--copyright T] [--description T] [--no-hot-keys]\n"
         "                    [--capture x11|portal] [--overwrite]\n"
         "       kelvo [gui]   the recorder's window and notification-area icon\n"
         "       kelvo config [get KEY/NAME | set KEY/NAME DATA]\n"
         "       kelvo sources\n"
         "       kelvo codecs\n"
         "Records the X display in $DISPLAY into a self-playing recording (a copy of the player\n"
         "with the recording appended), or into AVI, Windows Media, Matroska or MP4 by the output\n"
         "file's extension (--format chooses otherwise); the texts go into Windows Media files.\n"
         "Stops after --duration, on Ctrl-C, SIGTERM or the start/stop hot key (F2); SIGUSR1 or the\n"
         "pause hot key (F3) pauses and resumes (keys from the settings; --no-hot-keys: none). --select: drag out the region with the mouse (press, move, press\n"
         "again; Esc or the right button keeps the region shown); --pick-window: click the\n"
         "window to record and follow. --audio records sound from a PulseAudio source (kelvo\n"
         "sources lists them; 'monitor' is what the computer plays, 'default' the default\n"
         "source); several joined by + are mixed, each with a gain in percent after @\n"
         "(--audio monitor@80+default@150). --codec lossy codes the\n"
         "changed tiles as MPEG-4 (smaller for video and photos; lossless is exact). For AVI,\n"
         "Windows Media, Matroska and MP4 --codec also takes an installed compressor (kelvo\n"
         "codecs lists them; MP4 uses libx264 unless told otherwise), with its options in\n"
         "--codec-options. Defaults come from the settings (kelvo config).\n"
         "On a Wayland desktop the screen comes through the desktop's screen-cast portal (it may\n"
         "ask which monitor or window to share): --full records the monitor, --region crops it,\n"
         "--window and --pick-window share a window; --select and the hot keys need X11. --capture\n"
         "x11 or portal chooses instead of the session. --overwrite replaces an existing file\n"
         "whatever the settings' overwrite option says.\n";
}

namespace {
constexpr long kMaxSide = 65536;

}  // namespace

bool IsOwnCodec(const KelvoOptions& o) { return FindOwnCodec(o.codec) != nullptr; }

OutputKind ChosenOutputKind(const KelvoOptions& o, const std::string& path) {
  OutputKind kind;
  if (!o.format_option.empty() && OutputKindFromName(o.format_option, &kind)) return kind;
  return OutputKindForPath(path);
}

bool IsPlayerProgram(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = "cannot open the file";
    return false;
  }
  unsigned char head[4] = {};
  const size_t n = std::fread(head, 1, sizeof(head), f);
  std::fclose(f);
  const bool elf = n == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
  const bool exe = n >= 2 && head[0] == 'M' && head[1] == 'Z';
  if (!elf && !exe) {
    *error = "not a player program (neither an ELF nor a Windows executable)";
    return false;
  }
  return true;
}

bool ParseKelvoOptions(const std::vector<std::string>& args, KelvoOptions* o, std::string* error) {
  if (args.size() < 2 || args[1] != "record") {
    *error = "the commands are 'record', 'config' and 'sources'";
    return false;
  }
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has = i + 1 < args.size();
    auto value = [&]() -> const std::string& { return args[++i]; };
    if ((a == "-o" || a == "--output") && has) {
      o->output = value();
      o->output_from_settings = false;
      if (o->output.empty()) {
        *error = "the output file name is empty";
        return false;
      }
    } else if (a == "--fps" && has) {
      o->fps_text = value();
    } else if (a == "--select") {
      o->area = KelvoOptions::Area::kSelect;
    } else if (a == "--pick-window") {
      o->area = KelvoOptions::Area::kPickWindow;
    } else if (a == "--border") {
      o->border = true;
    } else if (a == "--no-border") {
      o->border = false;
    } else if (a == "--audio") {
      o->audio = true;
      o->audio_device = -1;
      o->audio_source.clear();
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') o->audio_source = value();
      o->mixed_sources.clear();
      const bool mixed = o->audio_source.find('+') != std::string::npos;
      if (mixed || o->audio_source.find('@') != std::string::npos) {
        // NAME[@GAIN] joined by +: each name non-empty, each gain 0..400.
        std::string rest = o->audio_source;
        for (;;) {
          const size_t plus = rest.find('+');
          const std::string part = rest.substr(0, plus);
          const size_t at = part.find('@');
          KelvoOptions::MixedSource m;
          m.name = part.substr(0, at);
          bool ok = !m.name.empty();
          if (ok && at != std::string::npos) {
            const std::string g = part.substr(at + 1);
            char* end = nullptr;
            const unsigned long gain = std::strtoul(g.c_str(), &end, 10);
            ok = !g.empty() && *end == '\0' && gain <= 400;
            m.gain = static_cast<uint32_t>(gain);
          }
          if (!ok) {
            *error = "--audio takes SOURCE or SOURCE[@GAIN]+SOURCE[@GAIN]... (a gain is 0..400 percent)";
            return false;
          }
          o->mixed_sources.push_back(m);
          if (plus == std::string::npos) break;
          rest = rest.substr(plus + 1);
        }
        if (!mixed) {
          // One source with a gain: recorded as it is, through the mixer.
          o->audio_source = o->mixed_sources[0].name;
        }
      }
    } else if (a == "--overwrite") {
      o->overwrite_option = 0;
    } else if (a == "--no-hot-keys") {
      o->hot_keys = false;
    } else if (a == "--no-audio") {
      o->audio = false;
    } else if (a == "--audio-rate" && has) {
      const std::string& v = value();
      char* end = nullptr;
      const unsigned long hz = std::strtoul(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || hz < 8000 || hz > 192000) {
        *error = "--audio-rate takes a sample rate in Hz (8000..192000; 16000, 22050, 24000, 32000, 44100 and "
                 "48000 are recorded as they are, others at the nearest of them)";
        return false;
      }
      o->audio_rate = static_cast<uint32_t>(hz);
    } else if (a == "--audio-quality" && has) {
      const std::string& v = value();
      if (v.size() != 1 || v[0] < '0' || v[0] > '9') {
        *error = "--audio-quality takes 0 (best) to 9 (smallest)";
        return false;
      }
      o->audio_quality = v[0] - '0';
    } else if (a == "--full") {
      o->area = KelvoOptions::Area::kFull;
    } else if (a == "--region" && has) {
      const std::string& v = value();
      char tail = 0;
      long x = 0, y = 0, w = 0, h = 0;
      if (std::sscanf(v.c_str(), "%ld,%ld,%ld,%ld%c", &x, &y, &w, &h, &tail) != 4 || w <= 0 || h <= 0 ||
          w > kMaxSide || h > kMaxSide || x < -kMaxSide || x > kMaxSide || y < -kMaxSide || y > kMaxSide) {
        *error = "--region takes X,Y,W,H with a positive width and height (at most 65536 each)";
        return false;
      }
      o->x = static_cast<int32_t>(x);
      o->y = static_cast<int32_t>(y);
      o->width = static_cast<int32_t>(w);
      o->height = static_cast<int32_t>(h);
      o->area = KelvoOptions::Area::kRegion;
    } else if (a == "--window" && has) {
      const std::string& v = value();
      char* end = nullptr;
      o->window = std::strtoul(v.c_str(), &end, 0);
      if (end == v.c_str() || *end != '\0' || o->window == 0) {
        *error = "--window takes an X window id (decimal or 0x hexadecimal)";
        return false;
      }
      o->area = KelvoOptions::Area::kWindow;
    } else if (a == "--capture" && has) {
      const std::string& v = value();
      if (v == "x11") {
        o->capture = KelvoOptions::Capture::kX11;
      } else if (v == "portal") {
        o->capture = KelvoOptions::Capture::kPortal;
      } else {
        *error = "--capture takes x11 or portal";
        return false;
      }
    } else if (a == "--duration" && has) {
      const std::string& v = value();
      char* end = nullptr;
      o->duration = std::strtod(v.c_str(), &end);
      if (end == v.c_str() || *end != '\0' || o->duration < 0) {
        *error = "--duration takes a number of seconds";
        return false;
      }
    } else if (a == "--codec" && has) {
      o->codec = value();
      o->codec_given = true;
      if (FindOwnCodec(o->codec) == nullptr &&
          std::find(o->compressors.begin(), o->compressors.end(), o->codec) == o->compressors.end()) {
        *error = "--codec takes one of: " + OwnCodecOptions();
        for (const std::string& c : o->compressors) *error += ", " + c;
        return false;
      }
    } else if (a == "--codec-options" && has) {
      o->codec_options = value();
    } else if (a == "--format" && has) {
      o->format_option = value();
      if (OutputKind ignored; !OutputKindFromName(o->format_option, &ignored)) {
        *error = "--format takes one of: exe, avi, wmv, mkv, mp4";
        return false;
      }
    } else if ((a == "--title" || a == "--author" || a == "--copyright" || a == "--description") && has) {
      std::string* field = a == "--title" ? &o->title : a == "--author" ? &o->author
                           : a == "--copyright" ? &o->copyright : &o->description;
      *field = value();
    } else if (a == "--player" && has) {
      o->player = value();
    } else if (a == "--key-interval" && has) {
      const std::string& v = value();
      char* end = nullptr;
      o->key_interval = std::strtoull(v.c_str(), &end, 10);
      if (end == v.c_str() || *end != '\0' || v[0] == '-') {
        *error = "--key-interval takes a number of bytes";
        return false;
      }
    } else {
      *error = "unknown or incomplete option '" + a + "'";
      return false;
    }
  }
  return true;
}

void ApplySettings(const RecorderSettings& s, KelvoOptions* o) {
  o->output = s.video.path;
  o->output_from_settings = !s.video.path.empty();
  o->format = s.video.format;
  // The stored codec is an index in the self-playing output's list (the
  // own codecs); the other formats' lists start with the lossless codec.
  const auto& codecs = OwnCodecs();
  o->codec = codecs.front().option;
  if (s.video.format == 2 && s.video.codec >= 0 && static_cast<size_t>(s.video.codec) < codecs.size()) {
    o->codec = codecs[static_cast<size_t>(s.video.codec)].option;
  }
  o->fps_text = std::to_string(s.video.fps);
  o->start_hot_key = s.video.start_hot_key;
  o->pause_hot_key = s.video.pause_hot_key;
  o->title = s.info.title;
  o->author = s.info.author;
  o->copyright = s.info.copyright;
  o->description = s.info.description;
  o->border = s.options.show_border != 0;
  o->overwrite_option = s.options.overwrite_option;
  o->audio = s.audio.record_audio != 0;
  // The settings' device list starts with the default device.
  o->audio_device = s.audio.device > 0 ? s.audio.device - 1 : -1;
  o->audio_rate = kAudioRates[std::clamp(s.audio.sample_rate, 0, 5)];
  o->audio_quality = std::clamp(s.audio.quality, 0, 9);
  o->volume_slider = static_cast<uint32_t>(std::clamp(s.audio.volume, 0, 65535));
  switch (s.video.capture_option) {
    case 0:
      o->area = KelvoOptions::Area::kFull;
      break;
    case 2:
      // The settings cannot name an X window: the user clicks one.
      o->area = KelvoOptions::Area::kPickWindow;
      break;
    default:
      if (s.video.width > 0 && s.video.height > 0 && s.video.width <= kMaxSide && s.video.height <= kMaxSide) {
        o->area = KelvoOptions::Area::kRegion;
        o->x = s.video.left;
        o->y = s.video.top;
        o->width = s.video.width;
        o->height = s.video.height;
      } else {
        o->area = KelvoOptions::Area::kFull;
      }
  }
}

bool ResolveOutputPath(const KelvoOptions& o, const std::function<bool(const std::string&)>& ask, std::string* path,
                       std::string* notice, std::string* error) {
  notice->clear();
  PathName name;
  if (!name.Set(o.output.c_str()) || o.output.empty()) {
    *error = "the output path is empty or longer than " + std::to_string(kMaxPath - 1) + " bytes";
    return false;
  }
  if (o.output_from_settings) {
    OutputKind chosen;
    const char* extension = !o.format_option.empty() && OutputKindFromName(o.format_option, &chosen)
                                ? Describe(chosen).extension
                                : FormatExtension(o.format);
    if (!name.ReplaceExtension(extension)) {
      *error = "the output path is too long";
      return false;
    }
    // First run: the folder of the stored path ("Screen Videos") is made.
    std::string dir;
    name.Directory(&dir, false);
    if (!dir.empty() && !PathName(dir.c_str()).Exists() && !name.CreateDirectories(false)) {
      *error = "cannot create the folder " + dir;
      return false;
    }
  }
  switch (ApplyOverwriteOption(o.overwrite_option < 0 ? 0 : o.overwrite_option, &name, ask)) {
    case OverwriteResult::kDeclined:
      *error = std::string(name.Get()) + " exists and was kept";
      return false;
    case OverwriteResult::kNoFreeName:
      *error = "no free numbered name for " + std::string(name.Get());
      return false;
    default:
      break;
  }
  *path = name.Get();
  return true;
}

}  // namespace kmr
