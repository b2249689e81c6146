// The Linux recorder's command line:
//   kelvo record [-o FILE] [--fps N]
//                [--full | --region X,Y,W,H | --window ID | --select | --pick-window]
//                [--border | --no-border] [--audio [SOURCE] | --no-audio]
//                [--audio-rate HZ] [--audio-quality 0..9] [--duration SECONDS]
//                [--codec lossless|lossy|COMPRESSOR] [--codec-options K=V,...]
//                [--player PATH] [--key-interval BYTES]
//                [--format exe|avi|wmv|mkv|mp4] [--title T] [--author T] [--copyright T]
//                [--description T] [--capture x11|portal]
// The settings give every default; the command line changes them for one run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recorder/outputs/output_kind.h"
#include "recorder/ui/settings/settings_pages.h"

namespace kmr {

struct KelvoOptions;
// Whether the chosen codec is one of the own codecs (else an installed
// compressor).
bool IsOwnCodec(const KelvoOptions& options);

struct KelvoOptions {
  // kSelect: drag the region out with the mouse; kPickWindow: click the
  // window to follow.
  enum class Area { kFull, kRegion, kWindow, kSelect, kPickWindow };
  // Where the screen comes from: the session decides (Wayland: the
  // screen-cast portal; X11: the X server), or --capture.
  enum class Capture { kAuto, kX11, kPortal };
  Capture capture = Capture::kAuto;
  std::string output = "recording";
  bool output_from_settings = false;
  std::string fps_text = "15";
  Area area = Area::kFull;
  int32_t x = 0, y = 0, width = 0, height = 0;  // --region
  unsigned long window = 0;                     // --window
  double duration = 0;                          // seconds; 0 = until stopped
  std::string player;                           // empty: morvin beside kelvo
  uint64_t key_interval = 52428800;
  bool border = true;          // the dashed frame around the recorded area
  int32_t overwrite_option = 0;  // 0 overwrite, 1 ask, 2 number new files
  int32_t format = 2;          // from the settings: 0 AVI, 1 Windows Media, 2 self-playing
  std::string codec = "lossless";  // an own codec's or an installed compressor's name
  bool codec_given = false;        // on the command line
  std::string codec_options;       // --codec-options: "key=value,..."
  // The installed compressors' names --codec also takes (set before parsing).
  std::vector<std::string> compressors;
  std::string format_option;       // --format: an extension name; empty: by the path
  // The information texts (the Windows Media file's header).
  std::string title = "Untitled", author, copyright, description;
  // Sound: the source by name ("monitor": what the computer plays), or by
  // its place in the list (-1: the default source) when no name was given.
  bool audio = false;
  std::string audio_source;
  // --audio A+B: the sources mixed, each by name with its gain in percent
  // ("monitor@80+default"); empty for one source named or not.
  struct MixedSource {
    std::string name;
    uint32_t gain = 100;
  };
  std::vector<MixedSource> mixed_sources;
  int32_t audio_device = -1;
  uint32_t audio_rate = 22050;
  int32_t audio_quality = 5;
  uint32_t volume_slider = 45535;
  // The start/stop and pause/resume hot keys (the settings' values).
  uint32_t start_hot_key = 0x710000;  // F2
  uint32_t pause_hot_key = 0x720000;  // F3
  bool hot_keys = true;               // --no-hot-keys
};

// The rates the Audio page offers, by index.
inline constexpr uint32_t kAudioRates[6] = {16000, 22050, 24000, 32000, 44100, 48000};

// The defaults a run starts from: output path, format, codec, frames per
// second, capture option and region, border and overwrite option.
void ApplySettings(const RecorderSettings& settings, KelvoOptions* options);

// Fills options from argv (argv[1] must be "record"); false with *error set
// for a command line that cannot be used.
bool ParseKelvoOptions(const std::vector<std::string>& args, KelvoOptions* options, std::string* error);

const char* KelvoUsage();

// What the run writes: --format, else the output path's extension.
OutputKind ChosenOutputKind(const KelvoOptions& options, const std::string& path);

// Where the recording goes: the settings' path gets the extension of the
// settings' format (or of --format); an existing file is overwritten, numbered
// ("clip#01.exe") or, for the asking option, overwritten only when ask()
// says yes. False with *error when there is no path to write.
bool ResolveOutputPath(const KelvoOptions& options, const std::function<bool(const std::string&)>& ask,
                       std::string* path, std::string* notice, std::string* error);

// Whether the file at path is a program a recording can be appended to (an
// ELF or a Windows executable); false with *error saying why not.
bool IsPlayerProgram(const std::string& path, std::string* error);

}  // namespace kmr
