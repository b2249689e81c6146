// The region tracker's desktop and border window on Windows: the pointer
// and keys read with GetAsyncKeyState at every tick, windows found with
// WindowFromPoint, every system cursor swapped for the cross or the hand
// while the user points, and a topmost tool window cut to its 1-pixel frame
// and painted with an 8 × 8 pattern brush whose origins move.
#pragma once

#include <windows.h>

#include "recorder/ui/region/region_tracker.h"

namespace kmr {

class WinSystemCursors : public SystemCursors {
 public:
  Handle CopyCurrent(int id) override;
  Handle CopyStandard(int id) override;
  bool SetSystem(Handle cursor, int id) override;
  void Destroy(Handle cursor) override;
};

class WinBorderWindow : public BorderWindow {
 public:
  WinBorderWindow() = default;
  ~WinBorderWindow() override;
  WinBorderWindow(const WinBorderWindow&) = delete;
  WinBorderWindow& operator=(const WinBorderWindow&) = delete;
  // A popup, topmost tool window without title, cursor, icon or background.
  bool Create(HINSTANCE instance);
  void Destroy();
  HWND Handle() const { return hwnd_; }

  void Place(const Rect& r) override;
  void Draw(int phase) override;
  void KeepOnTop() override;
  void Show() override;
  void Hide() override;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void Paint(HDC dc);

  HWND hwnd_ = nullptr;
  HBITMAP pattern_ = nullptr;
  HBRUSH brush_ = nullptr;
  Rect rect_;
  int phase_ = 1;
};

class WinRegionDesktop : public RegionDesktop {
 public:
  explicit WinRegionDesktop(const WinBorderWindow* border) : border_(border), swap_(&cursors_) {}
  Rect Screen() override;
  SelectionInput ReadInput() override;
  uintptr_t WindowAt(Point p) override;
  std::optional<Rect> WindowRect(uintptr_t window) override;
  void SwapCursors(int cursor_id) override { swap_.Replace(cursor_id); }
  void RestoreCursors() override { swap_.Restore(); }

 private:
  const WinBorderWindow* border_;
  WinSystemCursors cursors_;
  CursorSwap swap_;
  bool left_ = false, right_ = false, escape_ = false;  // down at the last reading
};

}  // namespace kmr
