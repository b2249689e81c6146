// morvin on Windows: the frame (menu, tool bar with the seek bar, status bar
// with the time) around a DirectDraw view. Without an argument it plays the
// recording appended to its own file; with one, that file.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/audio/audio_decoder.h"
#include "player/audio/win/acm_decoder.h"
#include "player/audio/win/wave_output.h"
#include "player/container_reader.h"
#include "player/screenshot.h"
#include "player/player_options.h"
#include "player/video_renderer.h"
#include "player/win/ddraw_view.h"
#include "player/win/win_frame.h"

namespace {

struct Player {
  kmr::VideoRenderer video;
  // Sound after the picture: the system's MP3 codec and the wave mapper.
  kmr::AcmMp3Decoder mp3;
  kmr::WaveOutput speakers;
  kmr::AudioDecoder sound{&mp3, &speakers, kmr::platform::SystemMsClock(), kmr::platform::CreateFrameTimer()};
  kmr::ContainerReader reader;
  kmr::DirectDrawView view{&video.Decoder()};
};

void Complain(const std::string& text) {
  std::fprintf(stderr, "morvin: %s\n", text.c_str());
  std::fflush(stderr);
  if (std::getenv("MORVIN_QUIET") == nullptr) MessageBoxA(nullptr, text.c_str(), "Morvin", MB_OK | MB_ICONSTOP);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  kmr::PlayerOptions opt;
  std::string why;
  if (!kmr::ParsePlayerOptions(std::vector<std::string>(__argv + 1, __argv + __argc), &opt, &why)) {
    std::fprintf(stderr, "morvin: %s\n", why.c_str());
    return 2;
  }
  const std::string& path = opt.path;
  const bool loop = opt.loop, fit = opt.fit, exit_at_end = opt.exit_at_end;
  const uint32_t seek_ms = opt.seek_ms;
  const std::string& screenshot = opt.screenshot;
  {
    std::string why;
    if (kmr::OpenRecordingFile(path, &why) == nullptr) {
      const std::string text = (path.empty() ? std::string("This program") : path) + ": " + why;
      std::fprintf(stderr, "morvin: %s\n", text.c_str());
      if (std::getenv("MORVIN_QUIET") == nullptr) MessageBoxA(nullptr, text.c_str(), "morvin", MB_OK | MB_ICONSTOP);
      return 1;
    }
  }
  if (!screenshot.empty()) return kmr::ScreenshotCommand(path, seek_ms, screenshot);
  Player player;
  player.reader.AddDecoder(&player.video);
  player.reader.AddDecoder(&player.sound);
  player.reader.SetSource(path);
  player.reader.SetLoop(loop);
  player.view.SetFit(fit);
  player.video.SetView(&player.view);
  // The format first: the frame is sized for the video.
  if (!player.reader.Start()) {
    Complain(player.reader.Error());
    return 1;
  }
  kmr::WinFrame frame(&player.reader, &player.video, &player.view);
  frame.Commands().SetFit(fit);
  std::string error;
  if (!frame.Create(instance, path.empty() ? "Morvin" : "Morvin - " + path, show, &error)) {
    player.video.SetView(nullptr);
    player.reader.Stop();
    Complain(error);
    return 1;
  }
  if (seek_ms != 0 && !player.reader.Seek(seek_ms)) std::fprintf(stderr, "morvin: %s\n", player.reader.Error().c_str());
  // The picture plays on when there is no sound output; whoever listens is told.
  if (player.sound.SampleRate() != 0 && !player.sound.IsRunning()) {
    std::fprintf(stderr, "morvin: playing without sound: %s\n", player.sound.Failure().c_str());
    std::fflush(stderr);
  }
  frame.Run(exit_at_end);
  player.video.SetView(nullptr);
  player.reader.Stop();
  player.view.CloseDisplay();
  // A recording that could not be played to its end says why.
  if (!player.reader.Error().empty()) {
    Complain((path.empty() ? std::string("This program") : path) + ": " + player.reader.Error());
    if (exit_at_end) return 1;
  }
  return 0;
}
