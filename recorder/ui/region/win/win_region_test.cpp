// The border window and the cursor swap on a real Windows desktop (wine64
// on a virtual X display in CI): where the frame lies, its shape, its
// pixels on the screen, and every system cursor put back.
#include "recorder/ui/region/win/win_region.h"

#include <gtest/gtest.h>

#include <vector>

#include "shared/testing/wait.h"

namespace kmr {
namespace {

void Pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

class NoOwner : public RegionOwner {
 public:
  void HideForSelection() override {}
  void RestoreAfterSelection() override {}
  bool IsVisible() override { return true; }
};

// The screen's pixels along a line, as 0xBBGGRR.
std::vector<COLORREF> ScreenPixels(int x, int y, int dx, int dy, int n) {
  std::vector<COLORREF> out;
  HDC screen = GetDC(nullptr);
  for (int i = 0; i < n; ++i) out.push_back(GetPixel(screen, x + i * dx, y + i * dy));
  ReleaseDC(nullptr, screen);
  return out;
}

bool BlackAndWhiteOnly(const std::vector<COLORREF>& line) {
  bool black = false, white = false;
  for (COLORREF c : line) {
    if (c == RGB(0, 0, 0)) {
      black = true;
    } else if (c == RGB(255, 255, 255)) {
      white = true;
    } else {
      return false;
    }
  }
  return black && white;
}

TEST(WinBorderWindow, FramesTheRecordedAreaOnePixelOutside) {
  WinBorderWindow border;
  ASSERT_TRUE(border.Create(GetModuleHandleA(nullptr)));
  WinRegionDesktop desktop(&border);
  NoOwner owner;
  RegionTracker tracker(&desktop, &border, &owner);
  tracker.SetMode(RegionTracker::kRegion);
  tracker.SetRect(Rect{100, 100, 400, 300});
  border.Show();
  tracker.SetRecording(true);
  Pump();

  HWND w = border.Handle();
  RECT r;
  ASSERT_TRUE(GetWindowRect(w, &r));
  EXPECT_EQ(r.left, 99);
  EXPECT_EQ(r.top, 99);
  EXPECT_EQ(r.right, 401);
  EXPECT_EQ(r.bottom, 301);
  EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(GetWindowLongA(w, GWL_STYLE) & WS_POPUP);

  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(GetWindowRgn(w, rgn), ERROR);
  EXPECT_TRUE(PtInRegion(rgn, 0, 0));
  EXPECT_TRUE(PtInRegion(rgn, 301, 0));
  EXPECT_TRUE(PtInRegion(rgn, 0, 150));
  EXPECT_TRUE(PtInRegion(rgn, 301, 201));
  EXPECT_FALSE(PtInRegion(rgn, 1, 1)) << "the recorded area is not covered";
  EXPECT_FALSE(PtInRegion(rgn, 150, 100));
  EXPECT_FALSE(PtInRegion(rgn, 300, 200));
  RECT box;
  GetRgnBox(rgn, &box);
  EXPECT_EQ(box.right, 302);
  EXPECT_EQ(box.bottom, 202);
  DeleteObject(rgn);

  // On the screen: the dashes on the frame, the area inside untouched.
  std::vector<COLORREF> top;
  EXPECT_TRUE(testing::WaitUntil([&] {
    tracker.Tick();
    Pump();
    top = ScreenPixels(99, 99, 1, 0, 302);
    return BlackAndWhiteOnly(top) && BlackAndWhiteOnly(ScreenPixels(99, 99, 0, 1, 202));
  })) << "no dashed frame on the screen";
  const std::vector<COLORREF> inside = ScreenPixels(100, 100, 1, 0, 300);
  EXPECT_FALSE(BlackAndWhiteOnly(inside));
  // The dashes run: the top row changes from one tick to the next.
  EXPECT_TRUE(testing::WaitUntil([&] {
    tracker.Tick();
    Pump();
    return ScreenPixels(99, 99, 1, 0, 302) != top;
  }));
  tracker.SetRecording(false);
  Pump();
  ASSERT_TRUE(GetWindowRect(w, &r));
  EXPECT_EQ(r.left, 100) << "idle, the frame lies on the region";
}

// What a cursor looks like: its hot spot and its mask bits.
std::vector<BYTE> CursorLook(HCURSOR c) {
  std::vector<BYTE> out;
  ICONINFO info{};
  if (c == nullptr || !GetIconInfo(c, &info)) return out;
  out.push_back(static_cast<BYTE>(info.xHotspot));
  out.push_back(static_cast<BYTE>(info.yHotspot));
  BYTE bits[512] = {};
  const LONG n = GetBitmapBits(info.hbmMask, sizeof(bits), bits);
  out.insert(out.end(), bits, bits + (n > 0 ? n : 0));
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return out;
}

TEST(WinSystemCursors, TheSwapPutsEverySystemCursorBack) {
  std::vector<std::vector<BYTE>> before;
  for (int id : CursorSwap::kIds) before.push_back(CursorLook(LoadCursor(nullptr, MAKEINTRESOURCE(id))));
  WinSystemCursors cursors;
  {
    CursorSwap swap(&cursors);
    swap.Replace(RegionTracker::kHandCursor);
    EXPECT_TRUE(swap.Active());
    // Where the system takes the new cursors, every id shows the hand.
    const std::vector<BYTE> hand = CursorLook(LoadCursor(nullptr, MAKEINTRESOURCE(RegionTracker::kHandCursor)));
    const std::vector<BYTE> arrow = CursorLook(LoadCursor(nullptr, MAKEINTRESOURCE(32512)));
    EXPECT_TRUE(arrow == hand || arrow == before[0]);
    swap.Restore();
    EXPECT_FALSE(swap.Active());
  }
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(CursorLook(LoadCursor(nullptr, MAKEINTRESOURCE(CursorSwap::kIds[i]))), before[i])
        << "cursor " << CursorSwap::kIds[i];
  }
}

}  // namespace
}  // namespace kmr
