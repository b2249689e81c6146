// morvin.exe end to end (under wine64 on a virtual display): a self-playing
// recording made from the real player program is run, and its window's video
// area is compared with the recording's last frame.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "recorder/outputs/container/container_stream.h"
#include "player/testing/colour_frames.h"
#include "shared/testing/wait.h"
#include "recorder/outputs/container/executable_writer.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr {
namespace {

// The height of the frame's bar of that class (0 when there is none).
int BarHeight(HWND frame, const char* cls) {
  HWND bar = FindWindowExA(frame, nullptr, cls, nullptr);
  RECT r{};
  if (bar == nullptr || !IsWindowVisible(bar) || !GetWindowRect(bar, &r)) return 0;
  return r.bottom - r.top;
}

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

// A self-playing recording being made: the player under test with a
// lossless video stream of 10 frames a second.
struct SelfPlayingMaker {
  SelfPlayingMaker(const std::string& path, int32_t width, int32_t height) : source(width, height, 32, 10) {
    EXPECT_TRUE(writer.SetPlayerPath(WindowsPath(MORVIN_PATH).c_str()));
    writer.SetPath(path.c_str());
    video.Attach(FormatOf(source));
    video.SetWriter(&writer);
    writer.AddStream(&video);
  }
  ExecutableWriter writer;
  OfflineSource source;
  ContainerVideoStream video;
};

std::vector<uint8_t> MakeSelfPlaying(const std::string& path) {
  SelfPlayingMaker make(path, 320, 240);
  ExecutableWriter& writer = make.writer;
  OfflineSource& source = make.source;
  ContainerVideoStream& video = make.video;
  EXPECT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes());
  std::mt19937 rng(6);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = (i % 4 == 3) ? 0 : static_cast<uint8_t>(rng());
  for (uint32_t i = 0; i < 15; ++i) {
    for (int k = 0; k < 1000; ++k) raw[(rng() % (raw.size() / 4)) * 4 + rng() % 3] = static_cast<uint8_t>(rng());
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 10), 100, i)));
  }
  writer.Close();
  return raw;
}

// The 30-byte format of a stored MP3 stream, for packets already coded.
class StoredMp3 : public AudioFormatSource {
 public:
  std::vector<uint8_t> WaveFormat() const override {
    return {85, 0, 2, 0, 34, 86, 0, 0, 64, 31, 0, 0, 1, 0, 0, 0, 12, 0, 1, 0, 2, 0, 0, 0, 176, 154, 5, 0, 0, 0};
  }
};

// A self-playing recording with picture and sound (1.1 s of a tone the
// recorder's encoder made, in eight packets).
void MakeSelfPlayingWithSound(const std::string& path) {
  std::vector<uint8_t> mp3;
  if (std::FILE* f = std::fopen(TONE_MP3, "rb")) {
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) mp3.insert(mp3.end(), buf, buf + n);
    std::fclose(f);
  }
  ASSERT_GT(mp3.size(), 1000u);
  SelfPlayingMaker make(path, 160, 120);
  ExecutableWriter& writer = make.writer;
  OfflineSource& source = make.source;
  ContainerVideoStream& video = make.video;
  StoredMp3 format;
  ContainerAudioStream audio;
  ASSERT_TRUE(audio.Attach(FormatOf(format)));
  audio.SetWriter(&writer);
  writer.AddStream(&audio);
  ASSERT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes(), 0x40);
  const size_t piece = (mp3.size() + 7) / 8;
  for (uint32_t i = 0; i < 11; ++i) {
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 10), 100, i)));
    if (i < 8) {
      const size_t at = i * piece, n = std::min(piece, mp3.size() - at);
      EXPECT_TRUE(audio.Put({mp3.data() + at, static_cast<uint32_t>(n), i * 131, 131}));
    }
  }
  EXPECT_TRUE(writer.Close());
}

// Runs a program to its end with its standard error into a pipe: the exit
// code and what it wrote there.
DWORD RunCollectingStderr(const std::string& cmd_line, std::string* err) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &sa, 0)) return 999;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdError = write_end;
  si.hStdOutput = write_end;
  PROCESS_INFORMATION pi{};
  std::string cmd = cmd_line;
  const BOOL started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write_end);
  if (!started) {
    CloseHandle(read_end);
    return 998;
  }
  char buf[512];
  DWORD n = 0;
  while (ReadFile(read_end, buf, sizeof(buf), &n, nullptr) && n > 0) err->append(buf, n);
  CloseHandle(read_end);
  DWORD code = 997;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return code;
}

TEST(MorvinWindows, ARecordingWithSoundPlaysToItsEndWithSound) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kmr_morvin_sound.exe";
  MakeSelfPlayingWithSound(path);
  SetEnvironmentVariableA("MORVIN_QUIET", "1");
  std::string err;
  const DWORD code = RunCollectingStderr("\"" + path + "\" --exit-at-end", &err);
  SetEnvironmentVariableA("MORVIN_QUIET", nullptr);
  DeleteFileA(path.c_str());
  EXPECT_EQ(code, 0u) << err;
  EXPECT_EQ(err.find("without sound"), std::string::npos) << err;
  // The pipe does carry what the player says.
  std::string missing;
  SetEnvironmentVariableA("MORVIN_QUIET", "1");
  EXPECT_EQ(RunCollectingStderr("\"" + WindowsPath(MORVIN_PATH) + "\" no-such-recording.kmr --exit-at-end", &missing),
            1u);
  SetEnvironmentVariableA("MORVIN_QUIET", nullptr);
  EXPECT_NE(missing.find("morvin:"), std::string::npos) << missing;
}

// --quick plays a recording as fast as it decodes: ten minutes of
// recording end long before ten minutes have passed (a minute at most
// here), as on Linux.
TEST(MorvinWindows, QuickPlayDoesNotWaitForTheRecordingsTime) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kmr_morvin_quick.exe";
  {
    SelfPlayingMaker make(path, 64, 48);
    ASSERT_TRUE(make.writer.Open());
    std::vector<uint8_t> raw(make.source.RawFrameBytes(), 0x20);
    for (uint32_t slot : {0u, 3000u, 6000u}) {  // 0, 5 and 10 minutes at 10 fps
      raw[slot % raw.size()] ^= 0xFF;
      ASSERT_TRUE(make.source.EncodeFrame(raw.data()));
      ASSERT_TRUE(make.video.Put(EncodedFrame(make.source, FrameGrid::SlotTime(slot, 10), 100, slot)));
    }
    make.writer.Close();
  }
  SetEnvironmentVariableA("MORVIN_QUIET", "1");
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + path + "\" --quick --exit-at-end";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  SetEnvironmentVariableA("MORVIN_QUIET", nullptr);
  const bool ended = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0;
  DWORD code = 99;
  if (ended) {
    GetExitCodeProcess(pi.hProcess, &code);
  } else {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 10000);
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  DeleteFileA(path.c_str());
  EXPECT_TRUE(ended) << "--quick was not applied: the player kept the recording's own time";
  EXPECT_EQ(code, 0u);
}

// A lossy recording made on Linux (kmrtool encode --codec lossy): without
// xvidcore.dll the player says what is missing and exits non-zero; with a
// library of that name beside the player (a stand-in that takes every call
// and draws nothing) it decodes the recording to its end.
TEST(MorvinWindows, ALossyRecordingNeedsXvidcoreBesideThePlayer) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string dir = std::string(temp) + "kmr_morvin_lossy\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string player = dir + "morvin.exe", library = dir + "xvidcore.dll";
  DeleteFileA(library.c_str());
  ASSERT_TRUE(CopyFileA(WindowsPath(MORVIN_PATH).c_str(), player.c_str(), FALSE));
  const std::string cmd = "\"" + player + "\" \"" + WindowsPath(LOSSY_RECORDING) + "\" --exit-at-end";
  SetEnvironmentVariableA("MORVIN_QUIET", "1");
  std::string err;
  EXPECT_EQ(RunCollectingStderr(cmd, &err), 1u) << err;
  EXPECT_NE(err.find("lossy screen video cannot be played here"), std::string::npos) << err;
  EXPECT_NE(err.find("xvidcore.dll"), std::string::npos) << err;
  ASSERT_TRUE(CopyFileA(WindowsPath(RECORDING_XVID).c_str(), library.c_str(), FALSE));
  err.clear();
  EXPECT_EQ(RunCollectingStderr(cmd, &err), 0u) << err;
  SetEnvironmentVariableA("MORVIN_QUIET", nullptr);
  DeleteFileA(player.c_str());
  DeleteFileA(library.c_str());
  RemoveDirectoryA(dir.c_str());
}

// 320 x 240 frames in one colour each, 10 fps, 60 s: frame i has red
// i mod 256 and green 32 + 64 x (i / 256), blue 200.
void MakeColourRecording(const std::string& path) {
  SelfPlayingMaker make(path, 320, 240);
  ASSERT_TRUE(make.writer.Open());
  std::vector<uint8_t> raw(make.source.RawFrameBytes());
  for (uint32_t i = 0; i < 600; ++i) {
    testing::PaintColourFrame(i, &raw);
    EXPECT_TRUE(make.source.EncodeFrame(raw.data()));
    EXPECT_TRUE(make.video.Put(EncodedFrame(make.source, FrameGrid::SlotTime(i, 10), 100, i)));
  }
  EXPECT_TRUE(make.writer.Close());
}

// The screen's pixels in a rectangle, BGRX rows.
std::vector<uint8_t> ScreenPixels(const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  std::vector<uint8_t> out;
  if (w <= 0 || h <= 0) return out;
  HDC screen = GetDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  out.assign(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + static_cast<size_t>(w) * h * 4);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bmp);
  ReleaseDC(nullptr, screen);
  return out;
}

int FrameAtScreen(int x, int y) {
  const std::vector<uint8_t> p = ScreenPixels(RECT{x, y, x + 1, y + 1});
  return p.empty() ? -1 : testing::FrameOfColour(p.data());
}

void Click(int x, int y) {
  SetCursorPos(x, y);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

// The frame: the tool bar with the seek bar and the status bar with the
// time are there and the time moves on; a click far along the seek bar's
// channel shows a frame long before playback could reach it; F11 covers the
// screen with the video and Esc gives the window back.
TEST(MorvinWindows, TheSeekBarSeeksAndF11CoversTheScreen) {
  if (GetSystemMetrics(SM_CXSCREEN) < 640) GTEST_SKIP() << "no screen large enough";
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kmr_morvin_frame.exe";
  MakeColourRecording(path);
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + path + "\"";
  const DWORD started = GetTickCount();
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  HWND wnd = nullptr;
  testing::WaitUntil([&] { return (wnd = FindWindowA("morvin", nullptr)) != nullptr && IsWindowVisible(wnd); });
  ASSERT_NE(wnd, nullptr) << "no player window";
  HWND toolbar = FindWindowExA(wnd, nullptr, TOOLBARCLASSNAMEA, nullptr);
  HWND status = FindWindowExA(wnd, nullptr, STATUSCLASSNAMEA, nullptr);
  ASSERT_NE(toolbar, nullptr);
  ASSERT_NE(status, nullptr);
  HWND seekbar = FindWindowExA(toolbar, nullptr, TRACKBAR_CLASSA, nullptr);
  ASSERT_NE(seekbar, nullptr) << "the seek bar sits in the tool bar";
  RECT tb{}, sb{}, st{};
  GetWindowRect(toolbar, &tb);
  GetWindowRect(seekbar, &sb);
  GetWindowRect(status, &st);
  EXPECT_GT(sb.left, tb.left + 7 * 16) << "after the seven buttons";
  EXPECT_LE(sb.right, tb.right);
  // The time pane (the right end of the status bar) shows dark text.
  auto text_in_time_pane = [&] {
    const std::vector<uint8_t> p = ScreenPixels(RECT{st.right - 110, st.top + 3, st.right - 20, st.bottom - 3});
    int dark = 0;
    for (size_t i = 0; i < p.size(); i += 4) dark += p[i] < 100 && p[i + 1] < 100 ? 1 : 0;
    return dark > 10;
  };
  EXPECT_TRUE(testing::WaitUntil(text_in_time_pane)) << "no time in the status bar";

  // 75 % along the seek bar: 45 s of the 60.
  RECT client{};
  GetClientRect(wnd, &client);
  POINT centre{(client.right) / 2, (client.bottom) / 2};
  ClientToScreen(wnd, &centre);
  int seen = -1;
  DWORD last_click = 0;
  const bool jumped = testing::WaitUntil([&] {
    if (last_click == 0 || GetTickCount() - last_click > 2000) {
      Click(sb.left + (sb.right - sb.left) * 3 / 4, (sb.top + sb.bottom) / 2);
      last_click = GetTickCount();
    }
    seen = FrameAtScreen(centre.x, centre.y);
    return seen >= 380;
  });
  EXPECT_TRUE(jumped) << "the picture shows frame " << seen;
  EXPECT_GT(seen, static_cast<int>((GetTickCount() - started) / 100) + 150) << "the picture came by seeking";

  PostMessageA(wnd, WM_KEYDOWN, VK_F11, 0);
  RECT full{};
  EXPECT_TRUE(testing::WaitUntil([&] {
    GetWindowRect(wnd, &full);
    return full.left == 0 && full.top == 0 && full.right == GetSystemMetrics(SM_CXSCREEN) &&
           full.bottom == GetSystemMetrics(SM_CYSCREEN) && !IsWindowVisible(toolbar) &&
           FrameAtScreen(full.right / 2, full.bottom / 2) >= 0;
  })) << "full screen is " << full.right << " x " << full.bottom;
  PostMessageA(wnd, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(testing::WaitUntil([&] {
    GetWindowRect(wnd, &full);
    return full.right - full.left < GetSystemMetrics(SM_CXSCREEN) && IsWindowVisible(toolbar);
  }));
  PostMessageA(wnd, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  DeleteFileA(path.c_str());
}

// --screenshot writes the picture at a time, as decoded.
TEST(MorvinWindows, AScreenshotIsThePictureAtThatTime) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kmr_morvin_shot.exe";
  const std::string bmp = std::string(temp) + "kmr_morvin_shot.bmp";
  const std::vector<uint8_t> last = MakeSelfPlaying(path);
  std::string err;
  EXPECT_EQ(RunCollectingStderr("\"" + path + "\" --screenshot \"" + bmp + "\" --seek 60", &err), 0u) << err;
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(bmp.c_str(), "rb")) {
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  DeleteFileA(path.c_str());
  DeleteFileA(bmp.c_str());
  ASSERT_GT(bytes.size(), 54u);
  const uint32_t offset = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | static_cast<uint32_t>(bytes[13]) << 24;
  ASSERT_EQ(bytes.size(), offset + last.size()) << "the last frame (the seek is clamped to the end)";
  EXPECT_TRUE(std::equal(last.begin(), last.end(), bytes.begin() + offset));
}

TEST(MorvinWindows, SelfPlayingRecordingShowsItsLastFrame) {
  if (GetSystemMetrics(SM_CXSCREEN) < 640) GTEST_SKIP() << "no screen large enough";
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "kmr_morvin_e2e.exe";
  const std::vector<uint8_t> last = MakeSelfPlaying(path);

  STARTUPINFOA si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + path + "\"";
  ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  // Wait, with a generous deadline, for the window and then for its last
  // frame (the recording lasts 1.5 s): the screen is read until it shows it.
  HWND wnd = nullptr;
  testing::WaitUntil([&] { return (wnd = FindWindowA("morvin", nullptr)) != nullptr; });
  ASSERT_NE(wnd, nullptr) << "no player window";
  RECT client{};
  int mismatched_rows = -1, border = -1;
  auto look = [&] {
    GetClientRect(wnd, &client);
    // The view lies between the tool bar and the status bar.
    const int top = BarHeight(wnd, TOOLBARCLASSNAMEA);
    POINT origin{0, top};
    ClientToScreen(wnd, &origin);
    client.bottom -= top + BarHeight(wnd, STATUSCLASSNAMEA);
    const std::vector<uint8_t> pixels = ScreenPixels(RECT{origin.x, origin.y, origin.x + 480, origin.y + 360});
    if (pixels.empty()) return false;
    mismatched_rows = 0;
    const uint8_t* shot = pixels.data();
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) {
        if (std::memcmp(shot + ((y + 60) * 480 + x + 80) * 4, &last[(static_cast<size_t>(y) * 320 + x) * 4], 3) != 0) {
          ++mismatched_rows;
          break;
        }
      }
    }
    border = shot[0] | shot[1] | shot[2];
    return mismatched_rows == 0;
  };
  testing::WaitUntil(look);
  EXPECT_EQ(client.right, 480);
  EXPECT_EQ(client.bottom, 360);
  EXPECT_EQ(border, 0);  // the border is black
  PostMessageA(wnd, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  DeleteFileA(path.c_str());
  EXPECT_EQ(mismatched_rows, 0);
}

}  // namespace
}  // namespace kmr
