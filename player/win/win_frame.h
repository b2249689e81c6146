// The Windows player's frame: the main window with its menu and
// accelerators, the tool bar (with the seek bar in it), the status bar with
// the message and time panes, and the scrolling view DirectDraw paints.
// Commands, the seek bar, full screen, drag scrolling and cursor auto-hide
// follow the frame logic shared with the Linux player.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "player/container_reader.h"
#include "player/frame/background_seek.h"
#include "player/frame/frame_logic.h"
#include "player/win/ddraw_view.h"

namespace kmr {

class WinFrame {
 public:
  static constexpr UINT_PTR kProgressTimer = 1;
  static constexpr UINT kProgressMs = 500;
  static constexpr const char* kClassName = "morvin";
  // Posted by the seek thread when a seek has ended (wParam the target,
  // lParam whether it was reached).
  static constexpr UINT kSeekDoneMessage = WM_APP + 1;

  WinFrame(ContainerReader* reader, VideoRenderer* video, DirectDrawView* view);
  ~WinFrame();
  // The frame and its bars, sized for the video (full screen for a
  // screen-sized one), with the display opened on the view. False with *error.
  bool Create(HINSTANCE instance, const std::string& title, int show, std::string* error);
  // Starts the progress timer and runs the message loop until the frame is
  // closed (or, with exit_at_end, playback has ended).
  void Run(bool exit_at_end);
  HWND Window() const { return frame_; }
  PlayerCommands& Commands() { return commands_; }

 private:
  static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK SeekProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnFrame(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // The view's share of the frame's messages (mouse positions in view
  // coordinates); true when handled.
  bool OnView(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
  RECT ViewRect() const;

  bool CreateBars(HINSTANCE instance);
  void Layout();
  void PlaceSeekBar();
  void UpdateButtons();
  void Progress();
  void RunCommand(int id);
  void EnterFullScreen();
  void LeaveFullScreen();
  void ShowBars(bool shown);
  // The thumb's place, sought off this thread (the newest place wins).
  void SeekToThumb();
  void SetMessage(const char* text);
  int BarsTop() const;
  int BarsBottom() const;

  ContainerReader* reader_;
  VideoRenderer* video_;
  DirectDrawView* view_;
  PlayerCommands commands_;
  SeekBarModel seek_;
  CursorAutoHide cursor_;
  HINSTANCE instance_ = nullptr;
  HWND frame_ = nullptr, toolbar_ = nullptr, seekbar_ = nullptr, status_ = nullptr;
  HMENU menu_ = nullptr;
  HACCEL accelerators_ = nullptr;
  HCURSOR drag_cursor_ = nullptr;
  WNDPROC seek_default_ = nullptr;
  RECT saved_{};
  bool bars_hidden_ = false;
  bool exit_at_end_ = false;
  bool dragging_ = false;
  Point drag_cursor_at_, drag_scroll_at_;
  int32_t last_sought_thumb_ = -1;
  std::unique_ptr<BackgroundSeek> seeker_;
};

}  // namespace kmr
