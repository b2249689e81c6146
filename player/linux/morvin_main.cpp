// morvin on Linux: plays a recording in an SDL2 window. Without an argument
// it plays the recording appended to its own file (a self-playing recording);
// with one, that file (a self-playing recording or a stand-alone ".kmr").
// The frame (tool strip, seek bar, status line, full screen) is SdlFrame.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/audio/audio_decoder.h"
#include "player/audio/linux/mpg123_decoder.h"
#include "player/audio/linux/pulse_output.h"
#include "player/container_reader.h"
#include "player/playback_session.h"
#include "player/linux/sdl_frame.h"
#include "player/linux/sdl_view.h"
#include "player/screenshot.h"
#include "player/player_options.h"
#include "player/video_renderer.h"
#include "platform/system/system.h"

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
  kmr::PlayerOptions opt;
  std::string why;
  if (!kmr::ParsePlayerOptions(std::vector<std::string>(argv + 1, argv + argc), &opt, &why)) {
    std::fprintf(stderr, "morvin: %s\n", why.c_str());
    return Usage();
  }
  if (opt.help) return Usage();
  kmr::VideoRenderer video;
  // Sound after the picture: decoded with libmpg123, played through PulseAudio.
  kmr::Mpg123Decoder mp3;
  kmr::PulseOutput speakers;
  kmr::AudioDecoder sound(&mp3, &speakers, kmr::platform::SystemMsClock(), kmr::platform::CreateFrameTimer());
  kmr::ContainerReader reader;
  kmr::PlaybackSession session(opt, &reader, &video, &sound);
  // Look at the recording before opening a window.
  if (!session.Check(&why)) {
    std::fprintf(stderr, "morvin: %s\n", why.c_str());
    if (opt.path.empty()) std::fprintf(stderr, "morvin: give a recording to play (morvin FILE)\n");
    return 1;
  }
  if (!opt.screenshot.empty()) return kmr::ScreenshotCommand(opt.path, opt.seek_ms, opt.screenshot);

  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "morvin: cannot open the display: %s\n", SDL_GetError());
    return 1;
  }
  // Ends SDL after everything below that holds its windows is gone.
  struct SdlVideo {
    ~SdlVideo() { SDL_Quit(); }
  } sdl;
  // With no display SDL falls back to drawing nowhere: say so instead,
  // unless that was asked for by name.
  const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if ((driver == "offscreen" || driver == "dummy") && (asked == nullptr || driver != asked)) {
    std::fprintf(stderr, "morvin: no display to play on: set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland)\n");
    return 1;
  }
  if (!session.Start(&why)) {
    std::fprintf(stderr, "morvin: %s\n", why.c_str());
    return 1;
  }
  kmr::SdlView view(&video.Decoder());
  kmr::SdlFrame frame(&reader, &video, &view);
  frame.Commands().SetFit(opt.fit);
  frame.SetRecordingPath(opt.path.empty() ? kmr::platform::ModuleFileName() : opt.path);
  if (!frame.Open(opt.path.empty() ? "morvin" : "morvin - " + opt.path, &why)) {
    std::fprintf(stderr, "morvin: %s\n", why.c_str());
    reader.Stop();
    return 1;
  }
  for (const std::string& line : session.Begin()) std::fprintf(stderr, "morvin: %s\n", line.c_str());
  video.SetView(&view);
  view.Paint();
  frame.Run(opt.exit_at_end);
  video.SetView(nullptr);
  // A recording that could not be played to its end says why.
  const int code = session.Finish(&why);
  if (!why.empty()) std::fprintf(stderr, "morvin: %s\n", why.c_str());
  return code;
}
