// kelvo on Linux: records the X display into a self-playing recording. The
// command line is its interface; see KelvoUsage.
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
#include "recorder/engine/recording_session.h"
#include "recorder/engine/screen_video_source.h"
#include "recorder/ui/linux/kelvo_config.h"
#include "recorder/ui/linux/kelvo_options.h"
#include "recorder/ui/settings/posix/ini_settings_store.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_pause_toggles = 0;

void OnStopSignal(int) { g_stop = 1; }
void OnPauseSignal(int) { g_pause_toggles = g_pause_toggles + 1; }

// Before anything else: a stop or pause signal that arrives while kelvo is
// still starting must not kill it. A closed terminal (SIGHUP) or a closed
// pipe (SIGPIPE) stops the recording like SIGTERM, leaving a finished file.
void InstallSignalHandlers() {
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = OnStopSignal;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &sa, nullptr);
  sa.sa_handler = OnPauseSignal;
  sigaction(SIGUSR1, &sa, nullptr);
  // Handled from here on, even where the starting process held them back.
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1}) sigaddset(&set, s);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// A window's rectangle in root coordinates, or nothing when it is gone or unmapped.
std::optional<kmr::Rect> WindowRect(Display* dpy, Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable) return std::nullopt;
  int x = 0, y = 0;
  Window child = 0;
  if (!XTranslateCoordinates(dpy, w, DefaultRootWindow(dpy), 0, 0, &x, &y, &child)) return std::nullopt;
  return kmr::Rect{x, y, x + a.width, y + a.height};
}

class XWindowLocator : public kmr::WindowLocator {
 public:
  XWindowLocator(Display* dpy, Window w) : dpy_(dpy), w_(w) {}
  std::optional<kmr::Rect> Locate() override { return WindowRect(dpy_, w_); }

 private:
  Display* dpy_;
  Window w_;
};

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

std::string Clock(double seconds) {
  char buf[32];
  const int m = static_cast<int>(seconds) / 60;
  std::snprintf(buf, sizeof(buf), "%02d:%04.1f", m, seconds - m * 60);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  InstallSignalHandlers();
  std::vector<std::string> args(argv, argv + argc);
  if (args.size() >= 2 && args[1] == "config") {
    kmr::IniSettingsStore store(kmr::IniSettingsStore::DefaultPath());
    std::string out, error;
    const int rc = kmr::RunKelvoConfig(std::vector<std::string>(args.begin() + 2, args.end()), &store,
                                       kmr::IniSettingsStore::DocumentsFolder(), &out, &error);
    std::fputs(out.c_str(), stdout);
    if (!error.empty()) std::fprintf(stderr, "kelvo: %s\n", error.c_str());
    return rc;
  }
  kmr::KelvoOptions opt;
  std::string error;
  if (!kmr::ParseKelvoOptions(args, &opt, &error)) {
    std::fprintf(stderr, "kelvo: %s\n%s", error.c_str(), kmr::KelvoUsage());
    return 2;
  }
  if (!opt.player.empty() && !kmr::IsPlayerProgram(opt.player, &error)) {
    std::fprintf(stderr, "kelvo: --player %s: %s\n", opt.player.c_str(), error.c_str());
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
    const kmr::Rect asked{opt.x, opt.y, opt.x + opt.width, opt.y + opt.height};
    if (kmr::Intersect(screen, asked).IsEmpty()) {
      std::fprintf(stderr, "kelvo: the region %d,%d,%d,%d lies outside the %dx%d screen\n", opt.x, opt.y, opt.width,
                   opt.height, screen.Width(), screen.Height());
      XCloseDisplay(dpy);
      return 2;
    }
    area = kmr::ClampToScreen(screen, asked);
  } else if (opt.area == kmr::KelvoOptions::Area::kWindow) {
    const auto w = WindowRect(dpy, opt.window);
    if (!w || kmr::Intersect(screen, *w).IsEmpty()) {
      std::fprintf(stderr, "kelvo: window 0x%lx is not on the screen\n", opt.window);
      XCloseDisplay(dpy);
      return 1;
    }
    area = kmr::ClampToScreen(screen, *w);
  }

  // The server leaves the pointer out of the root's pixels: it is drawn in.
  kmr::platform::X11Mirror x11_mirror;
  kmr::platform::X11PointerSource pointer;
  kmr::platform::PointerCompositor mirror(&x11_mirror, &pointer);
  kmr::platform::X11DesktopState desktop;
  kmr::ScreenCaptureSource capture(&mirror, &desktop);
  kmr::ScreenVideoSource video(&capture);
  kmr::ExecutableWriter writer;
  kmr::ContainerVideoStream stream;
  const bool have_player =
      opt.player.empty() ? writer.SetPlayerPathBesideModule("morvin") : writer.SetPlayerPath(opt.player.c_str());
  if (!have_player) {
    std::fprintf(stderr, "kelvo: no player program at %s\n",
                 opt.player.empty() ? "the recorder's side (morvin)" : opt.player.c_str());
  }

  kmr::RecordingController controller(&capture, &video, messages);
  kmr::RecordingSession session(&controller, &video);
  kmr::platform::CallbackNotifyTarget notify([&](uint32_t) { session.NotifyWriteFailure(); });
  controller.SetFormat(2, &writer, &stream, nullptr);
  controller.SetNotifyTarget(&notify);
  XWindowLocator locator(dpy, opt.window);
  if (opt.area == kmr::KelvoOptions::Area::kWindow) session.FollowWindow(&locator, screen);
  session.SetDuration(static_cast<uint32_t>(opt.duration * 1000.0 + 0.5));

  kmr::RecordingSettings settings;
  settings.format_index = 2;
  settings.own_codec = true;
  settings.lossless = true;
  settings.output_path = std::filesystem::absolute(opt.output).string();
  settings.capture_rect = area;
  settings.fps_text = opt.fps_text;
  settings.key_interval = opt.key_interval;

  if (g_stop || !session.Start(settings)) {
    XCloseDisplay(dpy);
    return 1;
  }
  // The line scripts and tests wait for.
  std::fprintf(stderr, "kelvo: recording %dx%d at %d,%d into %s\n", area.Width(), area.Height(), area.left, area.top,
               settings.output_path.c_str());
  std::fflush(stderr);

  const bool status = isatty(STDERR_FILENO) != 0;
  int pauses_seen = 0;
  for (;;) {
    if (g_stop) session.RequestStop();
    while (pauses_seen < g_pause_toggles) {
      session.RequestPauseToggle();
      ++pauses_seen;
    }
    if (!session.Poll()) break;
    if (status) {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(settings.output_path, ec);
      std::fprintf(stderr, "\r%s %s  frames %llu  dropped %llu  bytes %llu   ",
                   session.IsPaused() ? "paused   " : "recording", Clock(session.RecordedMs() / 1000.0).c_str(),
                   static_cast<unsigned long long>(session.Frames()), static_cast<unsigned long long>(session.Dropped()),
                   static_cast<unsigned long long>(ec ? 0 : bytes));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (status) std::fputc('\n', stderr);
  XCloseDisplay(dpy);
  const unsigned long long frames = session.Frames(), dropped = session.Dropped();
  switch (session.Result()) {
    case kmr::RecordingSession::Outcome::kFinished:
      std::fprintf(stderr, "kelvo: wrote %s: %s, %llu frames, %llu frame slots dropped\n", settings.output_path.c_str(),
                   Clock(session.RecordedMs() / 1000.0).c_str(), frames, dropped);
      return 0;
    case kmr::RecordingSession::Outcome::kVideoFailed:
      std::fprintf(stderr, "kelvo: %s is finished, but video capture stopped during the recording\n",
                   settings.output_path.c_str());
      return 1;
    default:
      return 1;  // the recorder's message said why
  }
}
