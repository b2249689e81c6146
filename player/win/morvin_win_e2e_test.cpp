// morvin.exe end to end (under wine64 on a virtual display): a self-playing
// recording made from the real player program is run, and its window's video
// area is compared with the recording's last frame.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string>

#include "recorder/engine/container_stream.h"
#include "shared/testing/wait.h"
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

// A self-playing recording being made: the player under test with a
// lossless video stream of 10 frames a second.
struct SelfPlayingMaker {
  SelfPlayingMaker(const std::string& path, int32_t width, int32_t height) : source(width, height, 32, 10) {
    EXPECT_TRUE(writer.SetPlayerPath(WindowsPath(MORVIN_PATH).c_str()));
    writer.SetPath(path.c_str());
    video.Attach(&source, 0);
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
    EXPECT_TRUE(video.Submit(nullptr, 0, FrameGrid::SlotTime(i, 10), 0, 0));
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
  ASSERT_TRUE(audio.Attach(&format, 0));
  audio.SetWriter(&writer);
  writer.AddStream(&audio);
  ASSERT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes(), 0x40);
  const size_t piece = (mp3.size() + 7) / 8;
  for (uint32_t i = 0; i < 11; ++i) {
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Submit(nullptr, 0, FrameGrid::SlotTime(i, 10), 0, 0));
    if (i < 8) {
      const size_t at = i * piece, n = std::min(piece, mp3.size() - at);
      EXPECT_TRUE(audio.Submit(mp3.data() + at, static_cast<uint32_t>(n), i * 131, 131, 0));
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
