// morvin end to end on a real X server: a self-playing recording made with the
// real writer is run, and the player window's video area is compared with the
// recording's last frame.
#include <gtest/gtest.h>
// X11 after GoogleTest: its macros would break gtest's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "player/container_file.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/executable_writer.h"
#include "shared/testing/temp_dir.h"
#include "player/testing/colour_frames.h"
#include "shared/testing/wait.h"
#include "shared/testing/xvfb.h"
#include "recorder/codecs/own_codecs.h"
#include "tools/kmrtool/offline_source.h"
#include "recorder/outputs/container/container_writer.h"
#include "tools/kmrtool/raw_export.h"

namespace kmr {
namespace {

using namespace std::chrono_literals;

// A self-playing recording of 320 × 240 pictures, 10 fps, 1.5 s, in one of
// the own codecs (null: the lossless one); returns the last picture coded.
std::vector<uint8_t> MakeSelfPlaying(const std::string& path, const OwnCodec* codec = nullptr) {
  ExecutableWriter writer;
  EXPECT_TRUE(writer.SetPlayerPath(MORVIN_PATH));
  writer.SetPath(path.c_str());
  OfflineSource source(320, 240, 32, 10, codec);
  ContainerVideoStream video;
  video.Attach(FormatOf(source));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  EXPECT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes());
  std::mt19937 rng(4);
  for (auto& b : raw) b = static_cast<uint8_t>(rng());
  for (size_t i = 3; i < raw.size(); i += 4) raw[i] = 0;
  for (uint32_t i = 0; i < 15; ++i) {
    for (int k = 0; k < 2000; ++k) raw[(rng() % (raw.size() / 4)) * 4 + (rng() % 3)] = static_cast<uint8_t>(rng());
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 10), 1000 / 10, i)));
  }
  writer.Close();
  return raw;
}

Window FindWindowNamed(Display* d, Window w, const char* prefix) {
  char* name = nullptr;
  if (XFetchName(d, w, &name) && name != nullptr) {
    const bool match = std::strncmp(name, prefix, std::strlen(prefix)) == 0;
    XFree(name);
    if (match) return w;
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && found == 0; ++i) found = FindWindowNamed(d, children[i], prefix);
  if (children) XFree(children);
  return found;
}

// Windows come and go while the tree is walked (SDL makes short-lived ones):
// a request about one that is gone is not a reason to end the test.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

// The player process: its output goes to a file, not to the test runner's
// pipe, and it is ended on every path out of the test.
struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return;
      std::this_thread::sleep_for(100ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

// The window: the tool strip, a 480 × 360 view (a smaller picture centred),
// the status line.
constexpr int kTool = 28, kStatus = 22;

// Runs a program (args[0]) with its output into a log file.
void StartPlayer(Child* child, const testing::Xvfb& xvfb, const std::string& log, std::vector<std::string> args) {
  child->pid = fork();
  if (child->pid == 0) {
    setenv("DISPLAY", xvfb.display().c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

// Runs the self-playing recording at path and waits until its window shows
// last (320 × 240, top-down 32-bit rows).
void ExpectPlayerShows(const testing::Xvfb& xvfb, const testing::TempDir& dir, const std::string& path,
                       const std::vector<uint8_t>& last) {
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);

  Child child;
  StartPlayer(&child, xvfb, dir.File("morvin.log"), {path});
  XSetErrorHandler(IgnoreXErrors);
  Display* dpy = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(dpy, nullptr);
  // The recording lasts 1.5 s: wait, with a generous deadline, until the
  // window shows its last frame. SDL may make its window anew for the
  // renderer it chooses, so the window is looked up on every try.
  int width = 0, height = 0, mismatched_rows = -1, corner = -1;
  auto look = [&] {
    const Window w = FindWindowNamed(dpy, DefaultRootWindow(dpy), "morvin");
    XWindowAttributes a{};
    if (w == 0 || !XGetWindowAttributes(dpy, w, &a) || a.width < 400 || a.height < 300) return false;
    XImage* img = XGetImage(dpy, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height), AllPlanes,
                            ZPixmap);
    if (img == nullptr) return false;
    width = a.width;
    height = a.height;
    // The 320 × 240 frame is centred in the 480 × 360 view: (80, 60); borders are black.
    mismatched_rows = 0;
    for (int y = 0; y < 240; ++y) {
      const uint8_t* row =
          reinterpret_cast<const uint8_t*>(img->data) + (y + kTool + 60) * img->bytes_per_line + 80 * 4;
      for (int x = 0; x < 320; ++x) {
        if (std::memcmp(row + x * 4, &last[(static_cast<size_t>(y) * 320 + x) * 4], 3) != 0) {
          ++mismatched_rows;
          break;
        }
      }
    }
    const uint8_t* c0 = reinterpret_cast<const uint8_t*>(img->data) + kTool * img->bytes_per_line;
    corner = c0[0] | c0[1] | c0[2];
    XDestroyImage(img);
    return mismatched_rows == 0;
  };
  const bool shown = testing::WaitUntil(look);
  XCloseDisplay(dpy);
  EXPECT_TRUE(shown) << "the last frame was not shown (" << mismatched_rows << " rows differ)";
  EXPECT_EQ(width, 480);
  EXPECT_EQ(height, kTool + 360 + kStatus);
  EXPECT_EQ(corner, 0);
}

TEST(MorvinEndToEnd, SelfPlayingRecordingShowsItsLastFrame) {
  testing::Xvfb xvfb("800x600x24");
  if (xvfb.display().empty()) GTEST_SKIP() << "Xvfb is not available";
  testing::TempDir dir;
  const std::string path = dir.File("clip");
  const std::vector<uint8_t> last = MakeSelfPlaying(path);
  ExpectPlayerShows(xvfb, dir, path, last);
}

// A lossy recording shows exactly what its decoder makes of the last frame.
TEST(MorvinEndToEnd, LossyRecordingShowsItsLastDecodedFrame) {
  testing::Xvfb xvfb("800x600x24");
  if (xvfb.display().empty()) GTEST_SKIP() << "Xvfb is not available";
  testing::TempDir dir;
  const std::string path = dir.File("clip");
  MakeSelfPlaying(path, FindOwnCodec("lossy"));
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path)) << file.Error();
  std::vector<uint8_t> decoded;
  RawVideoInfo info;
  std::string error;
  ASSERT_TRUE(ExportFrame(&file, kLastSlot, &info, &decoded, &error)) << error;
  file.Close();
  ASSERT_EQ(decoded.size(), 320u * 240 * 4);
  ExpectPlayerShows(xvfb, dir, path, decoded);
}

// A stand-alone recording of 320 × 240 frames in one colour each, 10 fps,
// 60 s: frame i has red i mod 256 and green 32 + 64 × (i / 256).
std::string MakeColourRecording(const testing::TempDir& dir) {
  const std::string path = dir.File("colours.kmr");
  StandaloneContainerWriter writer;
  writer.SetPath(path.c_str());
  OfflineSource source(320, 240, 32, 10);
  ContainerVideoStream video;
  video.Attach(FormatOf(source));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  EXPECT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes());
  for (uint32_t i = 0; i < 600; ++i) {
    testing::PaintColourFrame(i, &raw);
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 10), 1000 / 10, i)));
  }
  writer.Close();
  return path;
}

struct WindowShot {
  int width = 0, height = 0;
  std::vector<uint8_t> pixels;  // BGRX rows
  const uint8_t* At(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
};

bool Shoot(Display* dpy, WindowShot* shot, Window* found = nullptr) {
  const Window w = FindWindowNamed(dpy, DefaultRootWindow(dpy), "morvin");
  XWindowAttributes a{};
  if (w == 0 || !XGetWindowAttributes(dpy, w, &a) || a.map_state != IsViewable) return false;
  XImage* img =
      XGetImage(dpy, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
  if (img == nullptr) return false;
  shot->width = a.width;
  shot->height = a.height;
  shot->pixels.resize(static_cast<size_t>(a.width) * a.height * 4);
  for (int y = 0; y < a.height; ++y) {
    std::memcpy(&shot->pixels[static_cast<size_t>(y) * a.width * 4], img->data + y * img->bytes_per_line,
                static_cast<size_t>(a.width) * 4);
  }
  XDestroyImage(img);
  if (found != nullptr) *found = w;
  return true;
}

bool XDo(const testing::Xvfb& xvfb, const std::string& args) {
  const std::string cmd = "DISPLAY=" + xvfb.display() + " xdotool " + args + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// The frame's bars: the tool strip with its seek bar, the status line with
// the time; a click in the seek bar's channel moves playback there; F11
// covers the screen with the video and Esc gives the window back.
TEST(MorvinEndToEnd, TheSeekBarSeeksAndF11CoversTheScreen) {
  testing::Xvfb xvfb("800x600x24");
  if (xvfb.display().empty()) GTEST_SKIP() << "Xvfb is not available";
  testing::TempDir dir;
  const std::string path = MakeColourRecording(dir);
  Child child;
  const auto started = std::chrono::steady_clock::now();
  StartPlayer(&child, xvfb, dir.File("morvin.log"), {MORVIN_PATH, path});
  XSetErrorHandler(IgnoreXErrors);
  Display* dpy = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(dpy, nullptr);
  WindowShot shot;
  Window win = 0;
  // The bars are drawn: the strip's face, the seek bar's channel and dark
  // text in the time pane.
  auto bars_drawn = [&] {
    if (!Shoot(dpy, &shot, &win) || shot.width != 480 || shot.height != kTool + 360 + kStatus) return false;
    const uint8_t* face = shot.At(1, 1);
    if (face[2] != 236 || face[1] != 233 || face[0] != 216) return false;
    int text = 0;
    for (int y = shot.height - kStatus + 3; y < shot.height - 3; ++y) {
      for (int x = shot.width - 110; x < shot.width - 4; ++x) text += shot.At(x, y)[0] < 100 ? 1 : 0;
    }
    const uint8_t* channel = shot.At(200, 15);
    return text > 10 && channel[0] != 216;
  };
  ASSERT_TRUE(testing::WaitUntil(bars_drawn)) << "no tool strip, seek bar or time";
  // 75 % along the channel (x 196 .. 474): 45 s of 60, far ahead of any
  // normal playback since the start.
  const int target = 60000 * 208 / 278 / 100;  // the frame at the time under the thumb
  int seen = -1;
  auto last_click = std::chrono::steady_clock::now() - std::chrono::seconds(10);
  ASSERT_TRUE(testing::WaitUntil([&] {
    // SDL may make its window anew at first: the click is repeated on the
    // window found now until the picture answers (a seek to the same place
    // shows the same frame again).
    if (std::chrono::steady_clock::now() - last_click > std::chrono::seconds(2)) {
      if (!Shoot(dpy, &shot, &win)) return false;
      XDo(xvfb, "mousemove --window " + std::to_string(win) + " " + std::to_string(196 + 208) + " 15 click 1");
      last_click = std::chrono::steady_clock::now();
    }
    if (!Shoot(dpy, &shot, &win)) return false;
    seen = testing::FrameOfColour(shot.At(240, kTool + 180));
    return seen >= target;
  })) << "the picture shows frame " << seen << ", not " << target << " or later";
  const std::string id = std::to_string(win);
  const auto ahead = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  EXPECT_GT(seen, ahead.count() / 100 + 150) << "the picture came by seeking, not by playing";

  ASSERT_TRUE(XDo(xvfb, "key --window " + id + " F11"));
  ASSERT_TRUE(testing::WaitUntil([&] {
    // The picture, centred, with black around it.
    return Shoot(dpy, &shot) && shot.width == 800 && shot.height == 600 &&
           testing::FrameOfColour(shot.At(400, 300)) >= 0 && testing::FrameOfColour(shot.At(400, 30)) < 0;
  })) << "full screen is " << shot.width << " x " << shot.height;
  ASSERT_TRUE(XDo(xvfb, "key --window " + id + " Escape"));
  ASSERT_TRUE(testing::WaitUntil([&] { return Shoot(dpy, &shot) && shot.width == 480; }));
  XCloseDisplay(dpy);
}

// Ctrl+S saves a copy for sharing beside the recording while it plays: an
// MP4 that ffprobe reads, said on the status line and the terminal.
TEST(MorvinEndToEnd, CtrlSSavesAnMp4CopyBesideTheRecording) {
  testing::Xvfb xvfb("800x600x24");
  if (xvfb.display().empty()) GTEST_SKIP() << "Xvfb is not available";
  testing::TempDir dir;
  const std::string path = MakeColourRecording(dir);
  Child child;
  const std::string log = dir.File("morvin.log");
  StartPlayer(&child, xvfb, log, {MORVIN_PATH, path});
  XSetErrorHandler(IgnoreXErrors);
  Display* dpy = XOpenDisplay(xvfb.display().c_str());
  ASSERT_NE(dpy, nullptr);
  WindowShot shot;
  Window win = 0;
  const std::string copy = (std::filesystem::path(path).parent_path() /
                            (std::filesystem::path(path).stem().string() + ".mp4")).string();
  auto said = [&](const std::string& text) {
    std::ifstream in(log);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return all.find(text) != std::string::npos;
  };
  auto last_key = std::chrono::steady_clock::now() - std::chrono::seconds(10);
  // SDL may make its window anew at first: the key goes again to the window
  // found now until the player says it is saving.
  ASSERT_TRUE(testing::WaitUntil([&] {
    if (said("saving a copy as")) return true;
    if (std::chrono::steady_clock::now() - last_key > std::chrono::seconds(2) && Shoot(dpy, &shot, &win)) {
      XDo(xvfb, "key --window " + std::to_string(win) + " ctrl+s");
      last_key = std::chrono::steady_clock::now();
    }
    return false;
  })) << "Ctrl+S did not start a copy";
  XCloseDisplay(dpy);
  ASSERT_TRUE(testing::WaitUntil([&] { return said("Saved a copy as " + copy) || said("not saved"); }));
  ASSERT_TRUE(said("Saved a copy as " + copy));
  const std::string probe = "ffprobe -v error -select_streams v -show_entries stream=codec_name -of csv=p=0 '" +
                            copy + "' > '" + dir.File("probe.txt") + "'";
  ASSERT_EQ(std::system(probe.c_str()), 0);
  std::ifstream in(dir.File("probe.txt"));
  std::string codec;
  std::getline(in, codec);
  EXPECT_EQ(codec, "h264");
}

// The picture at a time as a bitmap, as the player shows it there: the
// lossless codec bit for bit.
TEST(MorvinEndToEnd, AScreenshotIsThePictureAtThatTime) {
  testing::TempDir dir;
  const std::string path = dir.File("clip");
  MakeSelfPlaying(path);
  const std::string bmp = dir.File("at.bmp");
  const std::string cmd = std::string(MORVIN_PATH) + " " + path + " --screenshot " + bmp + " --seek 0.75 2>" +
                          dir.File("err");
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path));
  RawVideoInfo info;
  std::vector<uint8_t> frame;
  std::string error;
  // 700 ms: the last frame at or before 750 ms.
  ASSERT_TRUE(ExportFrame(&file, 7, &info, &frame, &error)) << error;
  const std::vector<uint8_t> bytes = testing::ReadAll(bmp);
  ASSERT_GT(bytes.size(), 54u);
  EXPECT_EQ(bytes[0], 'B');
  const uint32_t offset = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | static_cast<uint32_t>(bytes[13]) << 24;
  ASSERT_EQ(bytes.size(), offset + frame.size());
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin() + offset)) << "rows top-down, as decoded";
  // Another reader takes it.
  const std::string probe = "ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + bmp + " >" +
                            dir.File("probe") + " 2>&1";
  ASSERT_EQ(std::system(probe.c_str()), 0);
  std::ifstream f(dir.File("probe"));
  std::string line;
  std::getline(f, line);
  EXPECT_EQ(line, "320,240");
}

// A recording damaged after its first frames plays up to the damage; then
// the player says what is wrong and, told to exit at the end, exits non-zero.
TEST(MorvinEndToEnd, ADamagedRecordingSaysWhatIsWrong) {
  testing::Xvfb xvfb("800x600x24");
  if (xvfb.display().empty()) GTEST_SKIP() << "Xvfb is not available";
  testing::TempDir dir;
  const std::string path = dir.File("clip");
  MakeSelfPlaying(path);
  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(path));
  PacketRecord p;
  std::vector<uint64_t> offsets;
  for (uint64_t at = file.Position(); file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket; at = file.Position()) {
    offsets.push_back(at);
  }
  file.Close();
  ASSERT_GE(offsets.size(), 10u);
  auto bytes = testing::ReadAll(path);
  bytes[offsets[8] + 18] = 0xFF;  // the ninth frame's zlib header
  bytes[offsets[8] + 19] = 0xFF;
  testing::WriteAll(path, bytes);
  const std::string err = dir.File("err");
  // What the system's graphics libraries keep is not the player's leak.
  const std::string cmd = "DISPLAY=" + xvfb.display() + " SDL_AUDIODRIVER=dummy ASAN_OPTIONS=detect_leaks=0 " +
                          MORVIN_PATH + " " + path +
                          " --quick --exit-at-end >" + err + " 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << rc;
  std::ifstream f(err);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("damaged"), std::string::npos) << text;
}

// Started with no display at all (over SSH, DISPLAY unset): it says it
// needs one and exits 1, without playing anywhere or crashing.
TEST(MorvinEndToEnd, WithoutADisplayItSaysSo) {
  testing::TempDir dir;
  const std::string path = dir.File("clip");
  MakeSelfPlaying(path);
  const std::string err = dir.File("err");
  const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy "
                          "ASAN_OPTIONS=detect_leaks=0 " + std::string(MORVIN_PATH) + " " + path +
                          " --exit-at-end >" + err + " 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << "status " << rc;
  std::ifstream f(err);
  const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("morvin: no display to play on"), std::string::npos) << text;
}

TEST(MorvinEndToEnd, RefusesAFileThatIsNotARecording) {
  testing::TempDir dir;
  testing::WriteAll(dir.File("notes.txt"), std::vector<uint8_t>(64, 'a'));
  const std::string cmd = std::string(MORVIN_PATH) + " " + dir.File("notes.txt") + " 2>" + dir.File("err");
  const int rc = std::system(cmd.c_str());
  EXPECT_NE(rc, 0);
  std::ifstream f(dir.File("err"));
  const std::string err((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(err.find("not a recording"), std::string::npos) << err;
}

}  // namespace
}  // namespace kmr
