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
#include "player/playback_session.h"
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
  Player player;
  kmr::PlaybackSession session(opt, &player.reader, &player.video, &player.sound);
  if (!session.Check(&why)) {
    Complain(why);
    return 1;
  }
  if (!opt.screenshot.empty()) return kmr::ScreenshotCommand(opt.path, opt.seek_ms, opt.screenshot);
  player.view.SetFit(opt.fit);
  player.video.SetView(&player.view);
  // The format first: the frame is sized for the video.
  if (!session.Start(&why)) {
    Complain(why);
    return 1;
  }
  kmr::WinFrame frame(&player.reader, &player.video, &player.view);
  frame.Commands().SetFit(opt.fit);
  if (!frame.Create(instance, opt.path.empty() ? "Morvin" : "Morvin - " + opt.path, show, &why)) {
    player.video.SetView(nullptr);
    player.reader.Stop();
    Complain(why);
    return 1;
  }
  for (const std::string& line : session.Begin()) std::fprintf(stderr, "morvin: %s\n", line.c_str());
  std::fflush(stderr);
  frame.Run(opt.exit_at_end);
  player.video.SetView(nullptr);
  const int code = session.Finish(&why);
  player.view.CloseDisplay();
  if (!why.empty()) Complain(why);
  return code;
}
