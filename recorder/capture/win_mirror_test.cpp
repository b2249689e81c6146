// The Windows mirrors: the polling mirror against the screen that GDI shows
// (under Wine with a virtual X display), and the mirror driver's attach
// failing cleanly where its display device does not exist.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <windows.h>

#include <cstring>
#include <random>

#include "recorder/capture/testing/capture_and_code.h"
#include "platform/desktop_state/win/desktop_state_win.h"
#include "platform/mirror/win/polling_mirror.h"
#include "platform/mirror/win/quarn_mirror.h"
#include "player/codecs/lossless_decoder.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/codecs/lossless_frame_encoder.h"

namespace kmr {
namespace {

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The screen as GDI reads it, with the pointer drawn the way a system
// without a hardware pointer draws it.
std::vector<uint8_t> ScreenWithPointer(int w, int h) {
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
  BitBlt(dc, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  CURSORINFO ci{};
  ci.cbSize = sizeof(ci);
  if (GetCursorInfo(&ci) && (ci.flags & CURSOR_SHOWING) && ci.hCursor) {
    ICONINFO ii{};
    if (GetIconInfo(ci.hCursor, &ii)) {
      if (ii.hbmMask) DeleteObject(ii.hbmMask);
      if (ii.hbmColor) DeleteObject(ii.hbmColor);
      DrawIconEx(dc, ci.ptScreenPos.x - static_cast<int>(ii.xHotspot), ci.ptScreenPos.y - static_cast<int>(ii.yHotspot),
                 ci.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
    }
  }
  GdiFlush();
  std::vector<uint8_t> out(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + static_cast<size_t>(w) * h * 4);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bmp);
  ReleaseDC(nullptr, screen);
  return out;
}

TEST(WindowsMirrors, PollingMirrorFramesMatchTheScreen) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  if (sw <= 0 || sh <= 0) GTEST_SKIP() << "no screen";
  HWND wnd = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "capture test", WS_POPUP | WS_VISIBLE, 40, 30, 200, 150,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(wnd, nullptr);
  Pump();
  platform::PollingMirror polling;
  platform::GdiPointerSource pointer(&polling);
  platform::PointerCompositor mirror(&polling, &pointer);
  platform::Win32DesktopState desktop;
  LosslessFrameEncoder codec(&desktop);
  ScreenCaptureSource source(&mirror);
  ASSERT_TRUE(source.Prepare(&codec));
  const Rect cap{0, 0, std::min(sw, 400), std::min(sh, 300)};
  source.SetRect(cap);
  LosslessDecoder decoder;
  ASSERT_TRUE(decoder.SetFormat(cap.Width(), cap.Height(), 4, 0));
  std::mt19937 rng(3);
  for (int frame = 0; frame < 8; ++frame) {
    HDC dc = GetDC(wnd);
    COLORREF last_colour = 0;
    POINT last_at{};
    for (int k = 0; k < 3; ++k) {
      last_colour = RGB(rng() % 256, rng() % 256, rng() % 256);
      HBRUSH brush = CreateSolidBrush(last_colour);
      RECT r{static_cast<LONG>(rng() % 180), static_cast<LONG>(rng() % 130), 0, 0};
      r.right = r.left + 1 + static_cast<LONG>(rng() % 40);
      r.bottom = r.top + 1 + static_cast<LONG>(rng() % 30);
      FillRect(dc, &r, brush);
      DeleteObject(brush);
      last_at = POINT{r.left, r.top};
    }
    ReleaseDC(wnd, dc);
    GdiFlush();
    Pump();
    // The drawing has reached the display when the screen shows the last fill.
    ClientToScreen(wnd, &last_at);
    HDC screen = GetDC(nullptr);
    const DWORD deadline = GetTickCount() + 30000;
    bool shown = false;
    while (!(shown = GetPixel(screen, last_at.x, last_at.y) == last_colour) && GetTickCount() < deadline) Pump();
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(shown) << "the drawing never reached the display";
    ASSERT_TRUE(testing::CaptureAndCode(source, codec));
    if (codec.PacketLength() != 0) {
      ASSERT_TRUE(decoder.Decode(codec.PacketData(), codec.PacketLength())) << decoder.Error();
    }
    const std::vector<uint8_t> expected = ScreenWithPointer(sw, sh);
    for (int y = cap.top; y < cap.bottom; ++y) {
      ASSERT_EQ(std::memcmp(decoder.Picture().At(0, y), &expected[(static_cast<size_t>(y) * sw) * 4], cap.Width() * 4),
                0)
          << "frame " << frame << " row " << y;
    }
  }
  source.Release();
  DestroyWindow(wnd);
}

// A frame that keeps changing right around the recorded area (as the
// border's running dashes do) is not a change of the area: the polling mirror
// reports the changed spans, not the blocks (or their bounds) around them.
TEST(WindowsMirrors, AFrameChangingAroundTheRecordedAreaCostsNothing) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  if (sw < 200 || sh < 150) GTEST_SKIP() << "no screen";
  SetCursorPos(sw - 1, sh - 1);
  HWND wnd = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 200, 150, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(wnd, nullptr);
  Pump();
  platform::PollingMirror polling;
  platform::Win32DesktopState desktop;
  LosslessFrameEncoder codec(&desktop);
  ScreenCaptureSource source(&polling);
  ASSERT_TRUE(source.Prepare(&codec));
  // Inside the blocks the frame's lines cross (block edges every 32 pixels).
  const Rect cap{20, 20, 99, 100};
  source.SetRect(cap);
  ASSERT_TRUE(testing::CaptureAndCode(source, codec));
  EXPECT_GT(codec.PacketLength(), 0u) << "the first frame is a key frame";
  const RECT lines[4] = {{19, 19, 100, 20}, {19, 100, 100, 101}, {19, 19, 20, 101}, {99, 19, 100, 101}};
  for (int frame = 0; frame < 4; ++frame) {
    const COLORREF colour = frame % 2 ? RGB(250, 20, 20) : RGB(20, 20, 250);
    HDC dc = GetDC(wnd);
    HBRUSH brush = CreateSolidBrush(colour);
    for (const RECT& line : lines) FillRect(dc, &line, brush);
    DeleteObject(brush);
    ReleaseDC(wnd, dc);
    GdiFlush();
    HDC screen = GetDC(nullptr);
    const DWORD deadline = GetTickCount() + 30000;
    bool shown = false;
    while (!(shown = GetPixel(screen, 99, 50) == colour && GetPixel(screen, 50, 19) == colour) &&
           GetTickCount() < deadline) {
      Pump();
    }
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(shown) << "the drawing never reached the display";
    ASSERT_TRUE(testing::CaptureAndCode(source, codec));
    EXPECT_EQ(codec.PacketLength(), 0u) << "frame " << frame;
  }
  source.Release();
  DestroyWindow(wnd);
}

TEST(WindowsMirrors, DriverWithoutItsDisplayDeviceFailsToAttachAndLeavesNothing) {
  EXPECT_FALSE(platform::QuarnMirror::DeviceExists());
  platform::QuarnMirror mirror;
  platform::Win32DesktopState desktop;
  LosslessFrameEncoder codec(&desktop);
  ScreenCaptureSource source(&mirror);
  EXPECT_FALSE(source.Prepare(&codec));
  EXPECT_FALSE(source.IsStarted());
  EXPECT_FALSE(source.Frame().IsValid());
  EXPECT_FALSE(mirror.Error().empty());
}

TEST(WindowsMirrors, AutomaticChoiceFallsBackToPolling) {
  // No driver here, and Wine's output duplication is not implemented: the
  // desktop duplication is tried, refused, and the polling mirror taken.
  std::string chosen;
  auto mirror = platform::CreateCaptureMirror(platform::CaptureMethod::kAutomatic, &chosen);
  auto* with_pointer = dynamic_cast<platform::PointerCompositor*>(mirror.get());
  ASSERT_NE(with_pointer, nullptr);
  EXPECT_NE(dynamic_cast<platform::PollingMirror*>(with_pointer->Inner()), nullptr);
  EXPECT_EQ(chosen.rfind("screen polling (no desktop duplication: ", 0), 0u) << chosen;
  std::printf("automatic capture: %s\n", chosen.c_str());
  auto driver = platform::CreateCaptureMirror(platform::CaptureMethod::kDriver);
  EXPECT_NE(dynamic_cast<platform::QuarnMirror*>(driver.get()), nullptr);
}

}  // namespace
}  // namespace kmr
