// kelvo on Linux: records the X display into a self-playing recording. The
// command line is its interface; see KelvoUsage.
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop_state/x11/desktop_state_x11.h"
#include "platform/message/message.h"
#include "platform/mirror/x11/x11_mirror.h"
#include "recorder/capture/capture_rect.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/engine/container_stream.h"
#include "recorder/engine/executable_writer.h"
#include "recorder/engine/recording_controller.h"
#include "recorder/engine/screen_video_source.h"
#include "recorder/ui/linux/kelvo_options.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_pause_toggles{0};

void OnStopSignal(int) { g_stop.store(true); }
void OnPauseSignal(int) { g_pause_toggles.fetch_add(1); }

// A window's rectangle in root coordinates, or nothing when it is gone or unmapped.
std::optional<kmr::Rect> WindowRect(Display* dpy, Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable) return std::nullopt;
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child)) return std::nullopt;
  return kmr::Rect{x, y, x + a.width, y + a.height};
}

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

std::string Clock(double seconds) {
  char buf[32];
  const int m = static_cast<int>(seconds) / 60;
  std::snprintf(buf, sizeof(buf), "%02d:%04.1f", m, seconds - m * 60);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  kmr::KelvoOptions opt;
  std::string error;
  if (!kmr::ParseKelvoOptions(args, &opt, &error)) {
    std::fprintf(stderr, "kelvo: %s\n%s", error.c_str(), kmr::KelvoUsage());
    return 2;
  }
  kmr::platform::MessageSink* messages = kmr::platform::SystemMessageSink();

  // The screen and, for window mode, the window, through a connection of our own.
  Display* dpy = XOpenDisplay(nullptr);
  if (dpy == nullptr) {
    const char* name = std::getenv("DISPLAY");
    std::fprintf(stderr, "kelvo: cannot open the X display %s\n", name ? name : "(DISPLAY is not set)");
    messages->ShowStop(std::string(kmr::texts::kCannotStart) + kmr::texts::kCaptureFailed);
    return 1;
  }
  XSetErrorHandler(IgnoreXErrors);
  const kmr::Rect screen{0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy))};
  kmr::Rect area = screen;
  if (opt.area == kmr::KelvoOptions::Area::kRegion) {
    area = kmr::ClampToScreen(screen, kmr::Rect{opt.x, opt.y, opt.x + opt.width, opt.y + opt.height});
  } else if (opt.area == kmr::KelvoOptions::Area::kWindow) {
    const auto w = WindowRect(dpy, opt.window);
    if (!w) {
      std::fprintf(stderr, "kelvo: window 0x%lx is not on the screen\n", opt.window);
      XCloseDisplay(dpy);
      return 1;
    }
    area = kmr::ClampToScreen(screen, *w);
  }

  kmr::platform::X11Mirror mirror;
  kmr::platform::X11DesktopState desktop;
  kmr::ScreenCaptureSource capture(&mirror, &desktop);
  kmr::ScreenVideoSource video(&capture);
  std::atomic<bool> video_failed{false};
  video.SetOnFailure([&](const std::string& why) {
    std::fprintf(stderr, "\nkelvo: video capture stopped: %s\n", why.c_str());
    video_failed.store(true);
  });
  kmr::ExecutableWriter writer;
  kmr::ContainerVideoStream stream;
  const bool have_player =
      opt.player.empty() ? writer.SetPlayerPathBesideModule("morvin") : writer.SetPlayerPath(opt.player.c_str());
  if (!have_player) {
    std::fprintf(stderr, "kelvo: no player program at %s\n",
                 opt.player.empty() ? "the recorder's side (morvin)" : opt.player.c_str());
  }
  std::atomic<bool> write_failed{false};
  kmr::platform::CallbackNotifyTarget notify([&](uint32_t) { write_failed.store(true); });

  kmr::RecordingController controller(&capture, &video, messages);
  controller.SetFormat(2, &writer, &stream, nullptr);
  controller.SetNotifyTarget(&notify);

  kmr::RecordingSettings settings;
  settings.format_index = 2;
  settings.own_codec = true;
  settings.lossless = true;
  settings.output_path = std::filesystem::absolute(opt.output).string();
  settings.capture_rect = area;
  settings.fps_text = opt.fps_text;
  settings.key_interval = opt.key_interval;

  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = OnPauseSignal;
  sigaction(SIGUSR1, &sa, nullptr);

  controller.ToggleStartStop(settings);
  if (!controller.IsRecording()) {
    XCloseDisplay(dpy);
    return 1;
  }

  const bool status = isatty(STDERR_FILENO) != 0;
  using SteadyClock = std::chrono::steady_clock;
  auto last = SteadyClock::now();
  double elapsed = 0;
  int pauses_seen = 0;
  kmr::Rect current = area;
  int rc = 0;
  while (!g_stop.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto now = SteadyClock::now();
    if (!controller.IsPaused()) elapsed += std::chrono::duration<double>(now - last).count();
    last = now;
    if (write_failed.load()) {
      if (status) std::fputc('\n', stderr);
      controller.OnWriteFailure();  // stop sequence and the message
      rc = 1;
      break;
    }
    const int toggles = g_pause_toggles.load();
    while (pauses_seen < toggles) {
      controller.TogglePause();
      ++pauses_seen;
    }
    if (opt.area == kmr::KelvoOptions::Area::kWindow) {
      const kmr::Rect next = kmr::FollowWindow(screen, current, WindowRect(dpy, opt.window));
      if (!(next == current)) {
        current = next;
        video.SetRect(current);
      }
    }
    if (status) {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(settings.output_path, ec);
      std::fprintf(stderr, "\r%s %s  frames %llu  bytes %llu   ", controller.IsPaused() ? "paused   " : "recording",
                   Clock(elapsed).c_str(), static_cast<unsigned long long>(video.FramesSubmitted()),
                   static_cast<unsigned long long>(ec ? 0 : bytes));
    }
    if (opt.duration > 0 && elapsed >= opt.duration) break;
  }
  if (controller.IsRecording()) controller.ToggleStartStop(settings);
  if (status) std::fputc('\n', stderr);
  if (rc == 0 && video_failed.load()) rc = 1;
  if (rc == 0) std::fprintf(stderr, "kelvo: wrote %s\n", settings.output_path.c_str());
  XCloseDisplay(dpy);
  return rc;
}
