// morvin on Linux: plays a recording in an SDL2 window. Without an argument
// it plays the recording appended to its own file (a self-playing recording);
// with one, that file (a self-playing recording or a stand-alone ".kmr").
// The frame (tool strip, seek bar, status line, full screen) is SdlFrame.
#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "player/audio/audio_decoder.h"
#include "player/audio/linux/mpg123_decoder.h"
#include "player/audio/linux/pulse_output.h"
#include "player/container_reader.h"
#include "player/linux/sdl_frame.h"
#include "player/linux/sdl_view.h"
#include "player/screenshot.h"
#include "player/seconds.h"
#include "player/video_renderer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: morvin [FILE] [--loop] [--fit] [--quick] [--exit-at-end] [--seek SECONDS]\n"
               "       morvin [FILE] --screenshot OUT.bmp [--seek SECONDS]\n"
               "Plays FILE, or the recording appended to this program, from SECONDS on; with\n"
               "--screenshot writes the picture at SECONDS as a bitmap and exits.\n"
               "Keys: F5 play, F6 quick play, F7 pause, F8 stop, F11 full screen (Esc leaves it),\n"
               "L loop, F fit, Q quit. Click or drag in the seek bar to go to a moment.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  bool loop = false, fit = false, quick = false, exit_at_end = false;
  uint32_t seek_ms = 0;
  std::string screenshot;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seek" && i + 1 < argc) {
      if (!kmr::ParseSeconds(argv[++i], &seek_ms)) {
        std::fprintf(stderr, "morvin: --seek takes a number of seconds\n");
        return 2;
      }
    } else if (a == "--screenshot" && i + 1 < argc) {
      screenshot = argv[++i];
    } else if (a == "--loop") {
      loop = true;
    } else if (a == "--fit") {
      fit = true;
    } else if (a == "--quick") {
      quick = true;
    } else if (a == "--exit-at-end") {
      exit_at_end = true;
    } else if (a == "-h" || a == "--help") {
      return Usage();
    } else if (path.empty() && a[0] != '-') {
      path = a;
    } else {
      return Usage();
    }
  }

  // Look at the recording before opening a window.
  {
    kmr::ContainerFile probe;
    const bool ok = path.empty() ? probe.OpenOwnExecutable() : probe.OpenPath(path);
    if (!ok) {
      std::fprintf(stderr, "morvin: %s: %s\n", path.empty() ? "this program" : path.c_str(),
                   probe.Error().c_str());
      if (path.empty()) std::fprintf(stderr, "morvin: give a recording to play (morvin FILE)\n");
      return 1;
    }
  }

  if (!screenshot.empty()) {
    std::string error;
    if (!kmr::WriteScreenshot(path, seek_ms, screenshot, &error)) {
      std::fprintf(stderr, "morvin: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }

  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "morvin: cannot open the display: %s\n", SDL_GetError());
    return 1;
  }
  kmr::VideoRenderer video;
  // Sound after the picture: decoded with libmpg123, played through PulseAudio.
  kmr::Mpg123Decoder mp3;
  kmr::PulseOutput speakers;
  kmr::AudioDecoder sound(&mp3, &speakers, kmr::platform::SystemMsClock(), kmr::platform::CreateFrameTimer());
  kmr::ContainerReader reader;
  reader.AddDecoder(&video);
  reader.AddDecoder(&sound);
  reader.SetSource(path);
  reader.SetLoop(loop);
  reader.SetQuickPlay(quick);
  if (!reader.Start()) {
    std::fprintf(stderr, "morvin: %s\n", reader.Error().c_str());
    SDL_Quit();
    return 1;
  }
  if (seek_ms != 0 && !reader.Seek(seek_ms)) {
    std::fprintf(stderr, "morvin: %s\n", reader.Error().c_str());
  }
  if (sound.SampleRate() != 0 && !sound.IsRunning()) {
    std::fprintf(stderr, "morvin: playing without sound: %s\n", sound.Failure().c_str());
  }
  kmr::SdlView view(&video.Decoder());
  kmr::SdlFrame frame(&reader, &video, &view);
  frame.Commands().SetFit(fit);
  std::string error;
  if (!frame.Open(path.empty() ? "morvin" : "morvin - " + path, &error)) {
    std::fprintf(stderr, "morvin: %s\n", error.c_str());
    reader.Stop();
    SDL_Quit();
    return 1;
  }
  video.SetView(&view);
  view.Paint();
  frame.Run(exit_at_end);
  video.SetView(nullptr);
  reader.Stop();
  SDL_Quit();
  // A recording that could not be played to its end says why.
  if (!reader.Error().empty()) {
    std::fprintf(stderr, "morvin: %s: %s\n", path.empty() ? "this program" : path.c_str(), reader.Error().c_str());
    if (exit_at_end) return 1;
  }
  return 0;
}
