// morvin on Windows: a plain window with DirectDraw. Without an argument it
// plays the recording appended to its own file; with one, that file.
//   F5 play, F6 quick play, F7 pause, F8 stop, L loop, F fit to window.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "player/audio/audio_decoder.h"
#include "player/audio/win/acm_decoder.h"
#include "player/audio/win/wave_output.h"
#include "player/container_reader.h"
#include "player/screenshot.h"
#include "player/seconds.h"
#include "player/video_renderer.h"
#include "player/win/ddraw_view.h"

namespace {

constexpr UINT_PTR kTitleTimer = 1;
constexpr char kClassName[] = "morvin";

struct Player {
  kmr::VideoRenderer video;
  // Sound after the picture: the system's MP3 codec and the wave mapper.
  kmr::AcmMp3Decoder mp3;
  kmr::WaveOutput speakers;
  kmr::AudioDecoder sound{&mp3, &speakers, kmr::platform::SystemMsClock(), kmr::platform::CreateFrameTimer()};
  kmr::ContainerReader reader;
  kmr::DirectDrawView view{&video.Decoder()};
  std::string name;
  bool exit_at_end = false;
};

Player* g_player = nullptr;

std::string Clock(uint32_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%02u:%02u", ms / 60000, (ms / 1000) % 60);
  return buf;
}

void Play(bool quick) {
  g_player->reader.SetQuickPlay(quick);
  if (!g_player->reader.IsRunning()) {
    g_player->reader.Start();
  } else if (g_player->reader.IsPaused()) {
    g_player->reader.Resume();
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      if (g_player) {
        g_player->view.Paint();
        return 0;
      }
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_KEYDOWN:
      switch (wp) {
        case VK_F5: Play(false); break;
        case VK_F6: Play(true); break;
        case VK_F7:
          if (g_player->reader.IsRunning() && !g_player->reader.IsPaused()) g_player->reader.Pause();
          break;
        case VK_F8:
          if (g_player->reader.IsRunning()) g_player->reader.Stop();
          break;
        case 'L': g_player->reader.SetLoop(!g_player->reader.GetLoop()); break;
        case 'F':
          g_player->view.SetFit(!g_player->view.Fit());
          InvalidateRect(hwnd, nullptr, FALSE);
          break;
        default: break;
      }
      return 0;
    case WM_TIMER: {
      const auto& r = g_player->reader;
      const std::string t = g_player->name + "  " + Clock(r.GetPosition()) + " / " + Clock(r.GetDuration()) +
                            (r.IsPaused() ? "  (paused)" : "") + (r.GetLoop() ? "  (loop)" : "");
      SetWindowTextA(hwnd, t.c_str());
      if (g_player->exit_at_end && !r.IsRunning()) DestroyWindow(hwnd);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  std::string path;
  bool loop = false, fit = false, exit_at_end = false;
  uint32_t seek_ms = 0;
  std::string screenshot;
  for (int i = 1; i < __argc; ++i) {
    const std::string a = __argv[i];
    if (a == "--seek" && i + 1 < __argc) {
      if (!kmr::ParseSeconds(__argv[++i], &seek_ms)) {
        std::fprintf(stderr, "morvin: --seek takes a number of seconds\n");
        return 2;
      }
    } else if (a == "--screenshot" && i + 1 < __argc) {
      screenshot = __argv[++i];
    } else if (a == "--loop") {
      loop = true;
    } else if (a == "--fit") {
      fit = true;
    } else if (a == "--exit-at-end") {
      exit_at_end = true;
    } else if (path.empty()) {
      path = a;
    }
  }
  {
    kmr::ContainerFile probe;
    if (!(path.empty() ? probe.OpenOwnExecutable() : probe.OpenPath(path))) {
      const std::string text = (path.empty() ? std::string("This program") : path) + ": " + probe.Error();
      std::fprintf(stderr, "morvin: %s\n", text.c_str());
      if (std::getenv("MORVIN_QUIET") == nullptr) MessageBoxA(nullptr, text.c_str(), "morvin", MB_OK | MB_ICONSTOP);
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
  Player player;
  g_player = &player;
  player.name = path.empty() ? "morvin" : "morvin - " + path;
  player.exit_at_end = exit_at_end;
  player.reader.AddDecoder(&player.video);
  player.reader.AddDecoder(&player.sound);
  player.reader.SetSource(path);
  player.reader.SetLoop(loop);
  player.view.SetFit(fit);
  player.video.SetView(&player.view);

  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);

  // Parse once to size the window to the video (at least 480 × 360).
  int fw = 480, fh = 360;
  {
    kmr::ContainerFile f;
    if (path.empty() ? f.OpenOwnExecutable() : f.OpenPath(path)) {
      for (const auto& s : f.Streams()) {
        kmr::VideoFormat vf;
        if (s.header.major_type == kmr::kMediaTypeVideo && kmr::VideoFormat::Parse(s.format, &vf)) {
          fw = std::max(fw, std::abs(vf.bitmap.width));
          fh = std::max(fh, std::abs(vf.bitmap.height));
        }
      }
    }
  }
  RECT r{0, 0, fw, fh};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  HWND hwnd = CreateWindowA(kClassName, player.name.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;
  ShowWindow(hwnd, show == 0 ? SW_SHOWNORMAL : show);
  UpdateWindow(hwnd);
  if (!player.view.OpenDisplay(hwnd)) {
    std::fprintf(stderr, "morvin: DirectDraw is not available\n");
    DestroyWindow(hwnd);
    return 1;
  }
  if (!player.reader.Start()) {
    std::fprintf(stderr, "morvin: %s\n", player.reader.Error().c_str());
    if (std::getenv("MORVIN_QUIET") == nullptr) {
      MessageBoxA(nullptr, player.reader.Error().c_str(), "morvin", MB_OK | MB_ICONSTOP);
    }
    player.view.CloseDisplay();
    DestroyWindow(hwnd);
    return 1;
  }
  if (seek_ms != 0 && !player.reader.Seek(seek_ms)) {
    std::fprintf(stderr, "morvin: %s\n", player.reader.Error().c_str());
  }
  // The picture plays on when there is no sound output; whoever listens is told.
  if (player.sound.SampleRate() != 0 && !player.sound.IsRunning()) {
    std::fprintf(stderr, "morvin: playing without sound: %s\n", player.sound.Failure().c_str());
    std::fflush(stderr);
  }
  SetTimer(hwnd, kTitleTimer, 250, nullptr);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  player.video.SetView(nullptr);
  player.reader.Stop();
  player.view.CloseDisplay();
  g_player = nullptr;
  // A recording that could not be played to its end says why.
  if (!player.reader.Error().empty()) {
    const std::string text = (path.empty() ? std::string("This program") : path) + ": " + player.reader.Error();
    std::fprintf(stderr, "morvin: %s\n", text.c_str());
    if (std::getenv("MORVIN_QUIET") == nullptr) MessageBoxA(nullptr, text.c_str(), "morvin", MB_OK | MB_ICONSTOP);
    if (exit_at_end) return 1;
  }
  return 0;
}
