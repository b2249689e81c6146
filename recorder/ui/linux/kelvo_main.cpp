// kelvo on Linux: records the X display, or a Wayland desktop through the
// screen-cast portal, into a self-playing recording. The command line is its
// interface; see KelvoUsage.
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/desktop_state/x11/desktop_state_x11.h"
#include "platform/x11/x11_connection.h"
#include "platform/message/message.h"
#include "platform/mirror/x11/x11_mirror.h"
#include "recorder/audio/mp3_encoder.h"
#include "recorder/audio/pulse/pulse_audio.h"
#include "recorder/audio/recorder_sound.h"
#include "recorder/capture/capture_rect.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/codecs/installed/installed_compressor.h"
#include "recorder/codecs/installed/libav/libav_compressors.h"
#include "recorder/codecs/own_codecs.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/outputs/output_set.h"
#include "recorder/control/recording_controller.h"
#include "recorder/control/recording_session.h"
#include "recorder/control/screen_video_source.h"
#include "recorder/ui/gtk/kelvo_gui.h"
#include "recorder/ui/hotkeys/portal/portal_hot_keys.h"
#include "recorder/ui/hotkeys/x11/x11_hot_keys.h"
#include "recorder/ui/linux/kelvo_config.h"
#include "recorder/ui/linux/kelvo_options.h"
#include "recorder/ui/linux/kelvo_plan.h"
#include "recorder/ui/linux/portal_capture.h"
#include "recorder/ui/linux/region_status.h"
#include "recorder/ui/pages/recording_fill.h"
#include "recorder/ui/region/x11/x11_region.h"
#include "recorder/ui/settings/posix/ini_settings_store.h"

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_pause_toggles = 0;

void OnStopSignal(int) { g_stop = 1; }
// The X server went away (the session ended): the recording stops and its
// file is finished before kelvo ends.
void OnXLost() { g_stop = 1; }
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

// kelvo has no window of its own to move out of the way while the user
// points at the screen.
class NoOwnerWindow : public kmr::RegionOwner {
 public:
  void HideForSelection() override {}
  void RestoreAfterSelection() override {}
  bool IsVisible() override { return false; }
};

// kelvo sources: the PulseAudio sources --audio takes, with their inputs.
int ListSources() {
  std::vector<kmr::PulseSource> sources;
  std::string error;
  if (!kmr::ListPulseSources(&sources, &error)) {
    std::fprintf(stderr, "kelvo: %s\n", error.c_str());
    return 1;
  }
  const std::string monitor = kmr::DefaultMonitorSource();
  for (size_t i = 0; i < sources.size(); ++i) {
    const kmr::PulseSource& s = sources[i];
    std::printf("%zu\t%s\t%s%s\n", i, s.name.c_str(), s.description.c_str(),
                s.name == monitor ? "  (monitor: what the computer plays)" : "");
    for (const std::string& p : s.ports) {
      std::printf("\t\tinput %s%s\n", p.c_str(), p == s.active_port ? " (selected)" : "");
    }
  }
  return 0;
}

// The place of a source in the list, by name; "monitor" is the default
// output's monitor. -2 when there is no such source.
int32_t SourceByName(const std::string& name, std::string* error) {
  std::vector<kmr::PulseSource> sources;
  if (name == "default") return -1;  // the server's default source
  if (!kmr::ListPulseSources(&sources, error)) return -2;
  const std::string wanted = name == "monitor" ? kmr::DefaultMonitorSource() : name;
  for (size_t i = 0; i < sources.size(); ++i) {
    if (sources[i].name == wanted) return static_cast<int32_t>(i);
  }
  *error = "there is no sound source '" + name + "' (kelvo sources lists them)";
  return -2;
}

void Tick() { std::this_thread::sleep_for(std::chrono::milliseconds(kmr::RegionTracker::kTickMs)); }

int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

std::string Clock(double seconds) {
  char buf[32];
  const int m = static_cast<int>(seconds) / 60;
  std::snprintf(buf, sizeof(buf), "%02d:%04.1f", m, seconds - m * 60);
  return buf;
}

// X11: sets the tracker up for the area the options ask for (the user
// drags out a region or clicks a window where asked) and gives the area to
// record; false when there is none (said on stderr).
bool TrackArea(const kmr::KelvoOptions& opt, kmr::RegionTracker* tracker, kmr::X11BorderWindow* border,
               kmr::X11RegionDesktop* desktop, kmr::RegionStatus* fields, kmr::Rect* area) {
  tracker->AttachEdits(fields);
  using Area = kmr::KelvoOptions::Area;
  switch (opt.area) {
    case Area::kFull:
      tracker->SetMode(kmr::RegionTracker::kFullScreen);
      break;
    case Area::kWindow:
    case Area::kPickWindow:
      tracker->SetMode(kmr::RegionTracker::kWindow);
      tracker->SetTrackedWindow(opt.window);
      break;
    case Area::kRegion:
    case Area::kSelect:
      tracker->SetMode(kmr::RegionTracker::kRegion);
      // Selection starts from the stored region.
      tracker->SetRect(kmr::Rect{opt.x, opt.y, opt.x + opt.width, opt.y + opt.height});
      break;
  }
  if (opt.area == Area::kSelect || opt.area == Area::kPickWindow) {
    if (!border->Created()) {
      std::fprintf(stderr, "kelvo: cannot create the border window\n");
      return false;
    }
    border->Show();
    tracker->SetSelecting(true);
    std::fprintf(stderr, opt.area == Area::kSelect
                             ? "kelvo: drag out the region to record: press, move, press again "
                               "(Esc or the right button keeps the region shown)\n"
                             : "kelvo: click the window to record\n");
    std::fflush(stderr);
    bool said_waiting = false;
    while (tracker->IsSelecting() && !g_stop) {
      tracker->Tick();
      fields->Print(stderr);
      if (tracker->IsSelecting() && !desktop->Grabbed() && !said_waiting) {
        std::fprintf(stderr, "kelvo: waiting for another program to let go of the pointer\n");
        said_waiting = true;
      }
      Tick();
    }
    tracker->SetSelecting(false);
    if (g_stop) {
      std::fprintf(stderr, "kelvo: cancelled\n");
      return false;
    }
  }
  tracker->Tick();
  *area = tracker->GetRect();
  if (area->IsEmpty()) {
    if (opt.area == Area::kWindow) {
      std::fprintf(stderr, "kelvo: window 0x%lx is not on the screen\n", opt.window);
    } else {
      std::fprintf(stderr, "kelvo: no window was picked\n");
    }
    return false;
  }

  return true;
}

}  // namespace

int main(int argc, char** argv) {
  InstallSignalHandlers();
  kmr::platform::OnXConnectionLost(OnXLost);
  std::vector<std::string> args(argv, argv + argc);
  kmr::IniSettingsStore store(kmr::IniSettingsStore::DefaultPath());
  if (args.size() >= 2 && args[1] == "config") {
    std::string out, error;
    const int rc = kmr::RunKelvoConfig(std::vector<std::string>(args.begin() + 2, args.end()), &store,
                                       kmr::IniSettingsStore::DocumentsFolder(), &out, &error);
    std::fputs(out.c_str(), stdout);
    if (!error.empty()) std::fprintf(stderr, "kelvo: %s\n", error.c_str());
    return rc;
  }
  if (args.size() >= 2 && args[1] == "sources") return ListSources();
  // The installed compressors (libavcodec's screen-friendly encoders).
  auto compressor_manager = std::make_unique<kmr::LibavCompressorManager>();
  kmr::LibavCompressorManager* compressors = compressor_manager.get();
  kmr::InstalledCompressor compressor(std::move(compressor_manager));
  compressor.SetInputFormat(kmr::InstalledCompressor::ListingFormat());
  std::vector<std::string> compressor_names;
  compressor.List(&compressor_names);
  if (args.size() < 2 || args[1] == "gui") {
    kmr::GuiEnvironment env;
    std::error_code ec;
    env.program = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) env.program = argv[0];
    for (size_t i = 0; i < compressor.Count(); ++i) {
      env.compressor_options.push_back(kmr::LibavCompressorManager::EncoderOf(compressor.EntryInfo(i).handler));
      env.compressor_names.push_back(compressor_names[i]);
    }
    return kmr::RunKelvoGui(argc, argv, env);
  }
  if (args.size() >= 2 && args[1] == "codecs") {
    for (const kmr::OwnCodec& c : kmr::OwnCodecs()) {
      std::printf("%-12s %s (own codec; every output)\n", c.option, c.name);
    }
    for (size_t i = 0; i < compressor.Count(); ++i) {
      const std::string name = kmr::LibavCompressorManager::EncoderOf(compressor.EntryInfo(i).handler);
      std::printf("%-12s %s (AVI, Windows Media, Matroska, MP4)\n", name.c_str(), compressor_names[i].c_str());
    }
    return 0;
  }
  // The settings give the defaults (a first run writes them all); the
  // command line changes them for this run only.
  kmr::RecorderSettings stored;
  stored.Load(&store, kmr::IniSettingsStore::DocumentsFolder());
  if (!store.Error().empty()) std::fprintf(stderr, "kelvo: the settings were not saved: %s\n", store.Error().c_str());
  kmr::KelvoOptions opt;
  kmr::ApplySettings(stored, &opt);
  for (size_t i = 0; i < compressor.Count(); ++i) {
    opt.compressors.push_back(kmr::LibavCompressorManager::EncoderOf(compressor.EntryInfo(i).handler));
  }
  std::string error;
  if (!kmr::ParseKelvoOptions(args, &opt, &error)) {
    std::fprintf(stderr, "kelvo: %s\n%s", error.c_str(), kmr::KelvoUsage());
    return 2;
  }
  if (!opt.player.empty() && !kmr::IsPlayerProgram(opt.player, &error)) {
    std::fprintf(stderr, "kelvo: --player %s: %s\n", opt.player.c_str(), error.c_str());
    return 2;
  }
  std::string output, notice;
  const auto ask = [](const std::string& path) {
    if (!isatty(STDIN_FILENO)) return false;
    std::fprintf(stderr, "kelvo: %s exists. Overwrite it? [y/N] ", path.c_str());
    char answer[16] = {};
    return std::fgets(answer, sizeof(answer), stdin) != nullptr && (answer[0] == 'y' || answer[0] == 'Y');
  };
  if (!kmr::ResolveOutputPath(opt, ask, &output, &notice, &error)) {
    std::fprintf(stderr, "kelvo: %s\n", error.c_str());
    return 1;
  }
  if (!notice.empty()) std::fprintf(stderr, "kelvo: %s\n", notice.c_str());
  kmr::platform::MessageSink* messages = kmr::platform::SystemMessageSink();

  const kmr::CaptureRoute route =
      kmr::ChooseCaptureRoute(opt.capture, std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
  const bool on_x11 = route == kmr::CaptureRoute::kX11;

  // X11: the screen, through a connection of our own (the tracker's: the
  // border window, the pointer grab and the windows it follows).
  // (A connection to a server that went away is left as it is.)
  std::unique_ptr<Display, int (*)(Display*)> display(nullptr, [](Display* d) {
    return kmr::platform::XConnectionLost() ? 0 : XCloseDisplay(d);
  });
  // Wayland: the desktop's screen-cast portal.
  std::unique_ptr<kmr::PortalCapture> portal;
  kmr::Rect screen;
  if (on_x11) {
    display.reset(kmr::platform::OpenXConnection(""));
    if (display == nullptr) {
      const char* name = std::getenv("DISPLAY");
      std::fprintf(stderr, "kelvo: cannot open the X display %s\n", name ? name : "(DISPLAY is not set)");
      messages->ShowStop(std::string(kmr::texts::kCannotStart) + kmr::texts::kCaptureFailed);
      return 1;
    }
    XSetErrorHandler(IgnoreXErrors);
    Display* d = display.get();
    screen = kmr::Rect{0, 0, DisplayWidth(d, DefaultScreen(d)), DisplayHeight(d, DefaultScreen(d))};
  } else {
    bool window = false;
    if (!kmr::PortalWantsWindow(opt, &window, &error)) {
      std::fprintf(stderr, "kelvo: %s\n", error.c_str());
      return 2;
    }
    portal = std::make_unique<kmr::PortalCapture>();
    if (!portal->Open(window, &store, [] { return g_stop != 0; }, &error)) {
      std::fprintf(stderr, "kelvo: %s\n", g_stop ? "cancelled" : error.c_str());
      return 1;
    }
    if (!portal->SettingsError().empty()) std::fprintf(stderr, "kelvo: %s\n", portal->SettingsError().c_str());
    std::fprintf(stderr, "kelvo: the screen is captured through %s\n", portal->Describe().c_str());
    screen = portal->Picture();
  }
  Display* dpy = display.get();
  kmr::RecordPlan plan;
  if (!kmr::PlanRecording(opt, output, screen, &plan, &error)) {
    std::fprintf(stderr, "kelvo: %s\n", error.c_str());
    return 2;
  }
  opt.codec = plan.codec;

  // The X server leaves the pointer out of the root's pixels: it is drawn
  // in. The portal's mirror brings its pointer itself.
  std::unique_ptr<kmr::platform::Mirror> x11_mirror;
  kmr::platform::Mirror* mirror = nullptr;
  std::unique_ptr<kmr::platform::DesktopState> desktop_state;
  if (on_x11) {
    x11_mirror = kmr::platform::PointerCompositor::Owning(std::make_unique<kmr::platform::X11Mirror>(),
                                                          std::make_unique<kmr::platform::X11PointerSource>());
    mirror = x11_mirror.get();
    desktop_state = std::make_unique<kmr::platform::X11DesktopState>();
  } else {
    // Where windows and the pointer are is the compositor's to know.
    mirror = portal->Mirror();
    desktop_state = std::make_unique<kmr::platform::NoDesktopState>();
  }
  const bool use_compressor = plan.use_compressor;
  if (use_compressor) {
    if (!opt.codec_options.empty() && !compressors->SetOptions(opt.codec, opt.codec_options, &error)) {
      std::fprintf(stderr, "kelvo: --codec-options: %s\n", error.c_str());
      return 2;
    }
    if (!compressor.Select(compressor.Find(kmr::LibavCompressorManager::HandlerOf(opt.codec)))) {
      std::fprintf(stderr, "kelvo: the compressor %s cannot be opened\n", opt.codec.c_str());
      return 1;
    }
  }
  const kmr::OwnCodec* own_codec = kmr::FindOwnCodec(opt.codec);
  if (own_codec == nullptr) own_codec = &kmr::OwnCodecs().front();
  const std::unique_ptr<kmr::FrameEncoder> codec = own_codec->make(desktop_state.get());
  kmr::ScreenCaptureSource capture(mirror);
  kmr::ScreenVideoSource video(&capture);
  // The output set of the chosen kind: its writer and streams.
  const kmr::OutputKind kind = plan.kind;
  kmr::OutputSet output_set = kmr::MakeOutputSet(kind);
  kmr::ExecutableWriter* executable = output_set.executable;
  const bool have_player = executable == nullptr ||
                           (opt.player.empty() ? executable->SetPlayerPathBesideModule("morvin")
                                               : executable->SetPlayerPath(opt.player.c_str()));
  if (!have_player) {
    std::fprintf(stderr, "kelvo: no player program at %s\n",
                 opt.player.empty() ? "the recorder's side (morvin)" : opt.player.c_str());
  }

  // X11: the tracker keeps the recorded rectangle: it follows a window and
  // frames the area with the border. On the portal the compositor follows
  // a shared window itself and kelvo draws no border.
  std::unique_ptr<kmr::X11BorderWindow> border;
  std::unique_ptr<kmr::X11RegionDesktop> desktop;
  NoOwnerWindow owner;
  kmr::RegionStatus fields;
  kmr::Rect given_to_capture;
  std::unique_ptr<kmr::RegionTracker> tracker;
  kmr::Rect area;
  if (on_x11) {
    border = std::make_unique<kmr::X11BorderWindow>(dpy);
    desktop = std::make_unique<kmr::X11RegionDesktop>(dpy, border.get());
    tracker = std::make_unique<kmr::RegionTracker>(desktop.get(), border.get(), &owner, [&](const kmr::Rect& r) {
      if (r == given_to_capture) return;
      given_to_capture = r;
      video.SetRect(r);
    });
    if (!TrackArea(opt, tracker.get(), border.get(), desktop.get(), &fields, &area)) return 1;
  } else if (!kmr::PortalArea(opt, screen, &area, &error)) {
    std::fprintf(stderr, "kelvo: %s\n", error.c_str());
    return 2;
  }

  // Sound: captured from a PulseAudio source, coded to MP3 by the encoder
  // library beside kelvo.
  kmr::PulseCaptureDevice sound_device;
  kmr::PulseMixer mixer;
  kmr::Mp3Encoder encoder;
  kmr::AudioRecorder audio_recorder(&sound_device, &mixer);
  kmr::RecorderSound sound(&encoder, &audio_recorder);
  std::vector<std::unique_ptr<kmr::PulseCaptureDevice>> extra_devices;
  std::vector<std::unique_ptr<kmr::AudioRecorder>> extra_recorders;
  if (opt.audio) {
    if (!encoder.Load()) std::fprintf(stderr, "kelvo: %s\n", encoder.Error().c_str());
    int32_t device = opt.audio_device;
    if (!opt.audio_source.empty() && opt.mixed_sources.size() < 2) {
      device = SourceByName(opt.audio_source, &error);
      if (device == -2) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return 1;
      }
    }
    // Several sources: the first is the main recorder's, the others get a
    // device and a recorder each; the mixer adds them up.
    for (size_t i = 0; i < opt.mixed_sources.size(); ++i) {
      const int32_t d = SourceByName(opt.mixed_sources[i].name, &error);
      if (d == -2) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return 1;
      }
      if (i == 0) {
        device = d;
        sound.SetGain(opt.mixed_sources[i].gain);
        continue;
      }
      extra_devices.push_back(std::make_unique<kmr::PulseCaptureDevice>());
      extra_recorders.push_back(std::make_unique<kmr::AudioRecorder>(extra_devices.back().get(), &mixer));
      extra_recorders.back()->SetDevice(d);
      extra_recorders.back()->SetInput(-1);
      sound.AddSource(extra_recorders.back().get(), opt.mixed_sources[i].gain);
    }
    audio_recorder.SetDevice(device);
    audio_recorder.SetInput(-1);  // the source's input is left as it is
    sound.SetSampleRate(opt.audio_rate);
    sound.SetQuality(opt.audio_quality);
    sound.SetVolumeSlider(opt.volume_slider);
  }

  kmr::RecordingController controller(&capture, &video, messages);
  controller.SetSoundPath(&sound);
  kmr::RecordingSession session(&controller, &video);
  kmr::platform::CallbackNotifyTarget notify([&](uint32_t) { session.NotifyWriteFailure(); });
  controller.SetOutput(output_set);
  controller.SetNotifyTarget(&notify);
  session.SetDuration(static_cast<uint32_t>(opt.duration * 1000.0 + 0.5));

  kmr::InfoSettings texts;
  texts.title = opt.title;
  texts.author = opt.author;
  texts.copyright = opt.copyright;
  texts.description = opt.description;
  const kmr::RecordingSettings settings =
      kmr::FillRecording(kind, kmr::CodecUse{codec.get(), use_compressor ? &compressor : nullptr},
                         std::filesystem::absolute(output).string(), area, opt.fps_text, opt.audio, texts,
                         opt.key_interval);

  // The frame moves 1 pixel outside the area before the first frame.
  given_to_capture = area;
  if (on_x11) {
    tracker->SetRecording(true);
    if (opt.border) {
      border->Show();
      tracker->Tick();
    } else {
      border->Hide();
    }
    XSync(dpy, False);
  }
  if (g_stop || !session.Start(settings)) {
    if (opt.audio && !sound.Error().empty()) std::fprintf(stderr, "kelvo: sound: %s\n", sound.Error().c_str());
    return 1;
  }
  // The line scripts and tests wait for.
  std::fprintf(stderr, "kelvo: recording %dx%d at %d,%d into %s\n", area.Width(), area.Height(), area.left, area.top,
               settings.output_path.c_str());
  std::fflush(stderr);

  // The hot keys, grabbed for as long as the recording runs: on the X
  // display, or through the desktop's global-shortcuts portal; a key that
  // cannot be had is said once and left to the signals.
  std::unique_ptr<kmr::HotKeySource> hot_keys;
  constexpr int kStartKey = 1, kPauseKey = 2;
  if (opt.hot_keys && !on_x11) {
    auto portal_keys = std::make_unique<kmr::PortalHotKeys>();
    std::string why;
    if (portal_keys->Open(&why)) {
      portal_keys->SetDescription(kStartKey, "Stop the recording");
      portal_keys->SetDescription(kPauseKey, "Pause and resume the recording");
      hot_keys = std::move(portal_keys);
    } else {
      // Said once: a Wayland compositor hands keys to the focused window only.
      std::fprintf(stderr, "kelvo: hot keys need X11 on this desktop (%s); stop with Ctrl-C or SIGTERM, pause and "
                           "resume with SIGUSR1\n", why.c_str());
    }
  } else if (opt.hot_keys) {
    hot_keys = std::make_unique<kmr::X11HotKeys>();
  }
  if (hot_keys) {
    for (const auto& [id, value, what] : {std::tuple{kStartKey, opt.start_hot_key, "stop"},
                                          std::tuple{kPauseKey, opt.pause_hot_key, "pause and resume"}}) {
      std::string why;
      if (!hot_keys->Grab(id, value, &why)) {
        std::fprintf(stderr, "kelvo: %s; %s with %s\n", why.c_str(), what,
                     id == kStartKey ? "Ctrl-C or SIGTERM" : "SIGUSR1");
      } else if (!on_x11) {
        const std::string bound = static_cast<kmr::PortalHotKeys*>(hot_keys.get())->BoundTrigger(id);
        std::fprintf(stderr, "kelvo: %s with %s (the desktop's global shortcut)\n", what,
                     bound.empty() ? kmr::HotKeyName(value).c_str() : bound.c_str());
      }
    }
  }
  std::fflush(stderr);
  const bool status = isatty(STDERR_FILENO) != 0;
  bool was_paused = false;
  int pauses_seen = 0;
  bool said_sound = false;
  std::string lost;  // why the screen cast ended
  for (;;) {
    // Once: where the sound begins on the recording's time line (a sound
    // server may start a moment late).
    if (opt.audio && !said_sound && audio_recorder.BlocksDelivered() > 0) {
      std::fprintf(stderr, "%skelvo: sound from %s\n", status ? "\n" : "",
                   Clock(audio_recorder.StartOffsetMs() / 1000.0).c_str());
      said_sound = true;
    }
    if (g_stop) session.RequestStop();
    if (portal != nullptr && lost.empty()) {
      lost = portal->Lost();
      if (!lost.empty()) session.RequestStop();
    }
    while (pauses_seen < g_pause_toggles) {
      session.RequestPauseToggle();
      ++pauses_seen;
    }
    for (int key = hot_keys ? hot_keys->NextPressed() : -1; key >= 0; key = hot_keys->NextPressed()) {
      if (key == kStartKey) session.RequestStop();
      if (key == kPauseKey) session.RequestPauseToggle();
    }
    if (!session.Poll()) break;
    if (session.IsPaused() != was_paused) {
      was_paused = session.IsPaused();
      std::fprintf(stderr, "%skelvo: %s\n", status ? "\n" : "", was_paused ? "paused" : "recording again");
      std::fflush(stderr);
    }
    if (status) {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(settings.output_path, ec);
      std::fprintf(stderr, "\r%s %s  frames %llu  dropped %llu  bytes %llu   ",
                   session.IsPaused() ? "paused   " : "recording", Clock(session.RecordedMs() / 1000.0).c_str(),
                   static_cast<unsigned long long>(session.Frames()), static_cast<unsigned long long>(session.Dropped()),
                   static_cast<unsigned long long>(ec ? 0 : bytes));
    }
    Tick();
    if (tracker) tracker->Tick();
  }
  if (status) std::fputc('\n', stderr);
  if (kmr::platform::XConnectionLost()) {
    std::fprintf(stderr, "kelvo: the X display went away: the recording was stopped\n");
  }
  if (!lost.empty()) std::fprintf(stderr, "kelvo: %s: the recording was stopped\n", lost.c_str());
  if (tracker) {
    tracker->SetRecording(false);
    border->Hide();
  }
  const unsigned long long frames = session.Frames(), dropped = session.Dropped();
  switch (session.Result()) {
    case kmr::RecordingSession::Outcome::kFinished:
      std::fprintf(stderr, "kelvo: wrote %s (%s): %s, %llu frames, %llu frame slots dropped\n",
                   settings.output_path.c_str(), kmr::Describe(kind).name, Clock(session.RecordedMs() / 1000.0).c_str(), frames,
                   dropped);
      if (opt.audio) {
        std::fprintf(stderr,
                     "kelvo: sound: %u blocks (%s from %s), %u blocks not recorded (paused or before the start)\n",
                     audio_recorder.BlocksDelivered(),
                     Clock(audio_recorder.TimeOfBlock(audio_recorder.BlocksDelivered()) / 1000.0).c_str(),
                     Clock(audio_recorder.StartOffsetMs() / 1000.0).c_str(), audio_recorder.BlocksDropped());
      }
      return 0;
    case kmr::RecordingSession::Outcome::kVideoFailed:
      std::fprintf(stderr, "kelvo: %s is finished, but video capture stopped during the recording\n",
                   settings.output_path.c_str());
      return 1;
    default:
      return 1;  // the recorder's message said why
  }
}
