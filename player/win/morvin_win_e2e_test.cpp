// morvin.exe end to end (under wine64 on a virtual display): a self-playing
// recording made from the real player program is run, and its window's video
// area is compared with the recording's last frame.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string>

#include "recorder/engine/container_stream.h"
#include "recorder/engine/executable_writer.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr {
namespace {

std::string WindowsPath(std::string p) {
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

std::vector<uint8_t> MakeSelfPlaying(const std::string& path) {
  ExecutableWriter writer;
  EXPECT_TRUE(writer.SetPlayerPath(WindowsPath(MORVIN_PATH).c_str()));
  writer.SetPath(path.c_str());
  OfflineLosslessSource source(320, 240, 32, 10);
  ContainerVideoStream video;
  video.Attach(&source, 0);
  video.SetWriter(&writer);
  writer.AddStream(&video);
  EXPECT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes());
  std::mt19937 rng(6);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = (i % 4 == 3) ? 0 : static_cast<uint8_t>(rng());
  for (uint32_t i = 0; i < 15; ++i) {
    for (int k = 0; k < 1000; ++k) raw[(rng() % (raw.size() / 4)) * 4 + rng() % 3] = static_cast<uint8_t>(rng());
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Submit(nullptr, 0, FrameGrid::SlotTime(i, 10), 0, 0));
  }
  writer.Close();
  return raw;
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
  const DWORD deadline = GetTickCount() + 30000;
  HWND wnd = nullptr;
  while ((wnd = FindWindowA("morvin", nullptr)) == nullptr && GetTickCount() < deadline) Sleep(20);
  ASSERT_NE(wnd, nullptr) << "no player window";
  RECT client{};
  int mismatched_rows = -1, border = -1;
  auto look = [&] {
    GetClientRect(wnd, &client);
    POINT origin{0, 0};
    ClientToScreen(wnd, &origin);
    HDC screen = GetDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = 480;
    bi.bmiHeader.biHeight = -360;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    BitBlt(dc, 0, 0, 480, 360, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    mismatched_rows = 0;
    const auto* shot = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) {
        if (std::memcmp(shot + ((y + 60) * 480 + x + 80) * 4, &last[(static_cast<size_t>(y) * 320 + x) * 4], 3) != 0) {
          ++mismatched_rows;
          break;
        }
      }
    }
    border = shot[0] | shot[1] | shot[2];
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
    ReleaseDC(nullptr, screen);
    return mismatched_rows == 0;
  };
  while (!look() && GetTickCount() < deadline) Sleep(20);
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
