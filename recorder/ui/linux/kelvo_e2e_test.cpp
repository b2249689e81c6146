// kelvo end to end on a real X server: a client draws while kelvo records,
// then the file is read back and decoded like a player would.
#include <gtest/gtest.h>
// X11 after GoogleTest: its macros would break gtest's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/mirror/pointer_image.h"
#include "platform/mirror/x11/x11_pointer.h"
#include "player/container_file.h"
#include "shared/testing/temp_dir.h"
#include "shared/testing/xvfb.h"
#include "recorder/ui/linux/kelvo_options.h"
#include "tools/kmrtool/raw_export.h"

namespace kmr {
namespace {

using namespace std::chrono_literals;

struct KelvoRun {
  pid_t pid = -1;
  std::string err_path;
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }
  std::string Stderr() const {
    std::ifstream f(err_path);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  }
};

KelvoRun StartKelvo(const std::string& display, const std::vector<std::string>& args, const std::string& err_path) {
  KelvoRun r;
  r.err_path = err_path;
  r.pid = fork();
  if (r.pid == 0) {
    setenv("DISPLAY", display.c_str(), 1);
    const int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::vector<char*> argv;
    static std::string path = KELVO_PATH;
    argv.push_back(path.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  return r;
}

class KelvoEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    xvfb_ = std::make_unique<testing::Xvfb>("320x240x24");
    if (xvfb_->display().empty()) GTEST_SKIP() << "Xvfb is not available";
    dpy_ = XOpenDisplay(xvfb_->display().c_str());
    ASSERT_NE(dpy_, nullptr);
    root_ = DefaultRootWindow(dpy_);
    win_ = XCreateSimpleWindow(dpy_, root_, 30, 40, 150, 100, 0, 0, 0x224466);
    XMapWindow(dpy_, win_);
    gc_ = XCreateGC(dpy_, win_, 0, nullptr);
    XWarpPointer(dpy_, None, root_, 0, 0, 0, 0, 200, 150);
    XSync(dpy_, False);
    player_ = std::filesystem::read_symlink("/proc/self/exe").string();
  }
  void TearDown() override {
    if (dpy_) {
      XFreeGC(dpy_, gc_);
      XCloseDisplay(dpy_);
    }
  }
  void DrawTick(int i) {
    XSetForeground(dpy_, gc_, 0x10000u * static_cast<unsigned>(i * 13 % 256) + 0x80);
    XFillRectangle(dpy_, win_, gc_, (i * 7) % 140, (i * 5) % 90, 10, 10);
    XSync(dpy_, False);
  }

  std::unique_ptr<testing::Xvfb> xvfb_;
  Display* dpy_ = nullptr;
  Window root_ = 0, win_ = 0;
  GC gc_{};
  std::string player_;
  testing::TempDir dir_;
};

TEST_F(KelvoEndToEnd, RecordsWhatTheServerShowsAndLeavesPausesOut) {
  const std::string out = dir_.File("rec");
  KelvoRun run = StartKelvo(xvfb_->display(),
                       {"record", "-o", out, "--fps", "10", "--duration", "2.5", "--player", player_},
                       dir_.File("err.txt"));
  const auto t0 = std::chrono::steady_clock::now();
  // Something changes every 100 ms; a pause from 1.0 s to 2.0 s.
  for (int i = 0; std::chrono::steady_clock::now() - t0 < 3500ms; ++i) {
    DrawTick(i);
    const auto t = std::chrono::steady_clock::now() - t0;
    if (i == 10) kill(run.pid, SIGUSR1);
    if (i == 20) kill(run.pid, SIGUSR1);
    (void)t;
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(run.Wait(), 0) << run.Stderr();

  ContainerFile file;
  ASSERT_TRUE(file.OpenPath(out)) << file.Error();
  EXPECT_EQ(file.GetTrailer().container_start, std::filesystem::file_size(player_));
  // The duration leaves the second of pause out.
  EXPECT_LE(file.GetTrailer().duration, 2900u);
  EXPECT_GE(file.GetTrailer().duration, 2000u);
  PacketRecord p;
  uint32_t last = 0, biggest_gap = 0;
  int packets = 0;
  while (file.ReadPacket(&p) == ContainerFile::ReadResult::kPacket) {
    if (packets++ > 0) biggest_gap = std::max(biggest_gap, p.time_stamp - last);
    last = p.time_stamp;
  }
  EXPECT_GT(packets, 10);
  EXPECT_LE(biggest_gap, 400u) << "a paused interval shows in the time stamps";

  // The last decoded frame is the server's picture with the pointer.
  RawVideoInfo info;
  std::vector<uint8_t> frame;
  std::string error;
  ASSERT_TRUE(ExportRawFrames(&file, &info, [&](uint32_t, const std::vector<uint8_t>& rows) {
    frame = rows;
    return true;
  }, &error)) << error;
  ASSERT_EQ(info.width, 320);
  ASSERT_EQ(info.height, 240);
  XImage* img = XGetImage(dpy_, root_, 0, 0, 320, 240, AllPlanes, ZPixmap);
  Plane expected(320, 240, 4);
  for (int y = 0; y < 240; ++y) std::memcpy(expected.view().At(0, y), img->data + y * img->bytes_per_line, 1280);
  XDestroyImage(img);
  platform::PointerImage pi;
  platform::FetchX11Pointer(dpy_, &pi);
  platform::BlendPointer(pi, expected.view());
  for (int y = 0; y < 240; ++y) {
    ASSERT_EQ(std::memcmp(&frame[static_cast<size_t>(y) * 1280], expected.view().At(0, y), 1280), 0) << "row " << y;
  }
}

TEST_F(KelvoEndToEnd, MissingDirectoryFailsWithTheWriteText) {
  const std::string out = dir_.File("no/such/dir/rec");
  KelvoRun run = StartKelvo(xvfb_->display(), {"record", "-o", out, "--duration", "1", "--player", player_},
                       dir_.File("err.txt"));
  EXPECT_NE(run.Wait(), 0);
  const std::string err = run.Stderr();
  EXPECT_NE(err.find("Can not start recording!\n\nFailed to write data to the file:\n\n" + out), std::string::npos)
      << err;
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(KelvoEndToEnd, WithoutADisplayTheCaptureFails) {
  KelvoRun run = StartKelvo(":99999", {"record", "-o", dir_.File("rec"), "--duration", "1", "--player", player_},
                       dir_.File("err.txt"));
  EXPECT_NE(run.Wait(), 0);
  EXPECT_NE(run.Stderr().find("Failed to capture screen"), std::string::npos) << run.Stderr();
}

TEST(KelvoOptions, ParsesAndRefuses) {
  KelvoOptions o;
  std::string e;
  ASSERT_TRUE(ParseKelvoOptions({"kelvo", "record", "-o", "x", "--fps", "30", "--region", "1,2,30,40",
                                 "--duration", "2.5", "--key-interval", "1000"},
                                &o, &e))
      << e;
  EXPECT_EQ(o.area, KelvoOptions::Area::kRegion);
  EXPECT_EQ(o.width, 30);
  EXPECT_DOUBLE_EQ(o.duration, 2.5);
  EXPECT_EQ(o.key_interval, 1000u);
  KelvoOptions w;
  ASSERT_TRUE(ParseKelvoOptions({"kelvo", "record", "--window", "0x2a00007"}, &w, &e));
  EXPECT_EQ(w.window, 0x2a00007ul);
  EXPECT_FALSE(ParseKelvoOptions({"kelvo", "play"}, &o, &e));
  EXPECT_FALSE(ParseKelvoOptions({"kelvo", "record", "--region", "1,2,0,4"}, &o, &e));
  EXPECT_FALSE(ParseKelvoOptions({"kelvo", "record", "--duration"}, &o, &e));
  EXPECT_FALSE(ParseKelvoOptions({"kelvo", "record", "--bogus"}, &o, &e));
}

}  // namespace
}  // namespace kmr
