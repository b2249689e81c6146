// The Linux player's frame: the SDL2 window's event loop over the player's
// commands, the tool strip and seek bar, the status line with the time, full
// screen, scale to fit, drag scrolling and cursor auto-hide. The decisions
// are the frame logic's; this class only wires SDL events to them.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>

#include "player/container_reader.h"
#include "player/frame/background_seek.h"
#include "player/frame/frame_logic.h"
#include "player/linux/sdl_bars.h"
#include "player/linux/sdl_view.h"
#include "tools/kmrtool/libav/copy_saver.h"

namespace kmr {

class SdlFrame {
 public:
  static constexpr uint32_t kProgressMs = 500;

  SdlFrame(ContainerReader* reader, VideoRenderer* video, SdlView* view);
  // Creates the window for the video (full screen for a screen-sized one)
  // and the bars; false with SDL's reason.
  bool Open(const std::string& title, std::string* error);
  // The event loop; returns when the window is closed (or, with
  // exit_at_end, when playback has ended).
  void Run(bool exit_at_end);
  PlayerCommands& Commands() { return commands_; }
  // The recording's file, for "Save a copy" (Ctrl+S): an MP4 copy beside it.
  void SetRecordingPath(const std::string& path) { recording_path_ = path; }

 private:
  void RunCommand(PlayerCommand c);
  void SetFullScreen(bool on);
  void Progress();
  void UpdateCursor(int x, int y);
  void OnMouseDown(const SDL_MouseButtonEvent& e);
  void OnMouseUp(const SDL_MouseButtonEvent& e);
  void OnMouseMove(const SDL_MouseMotionEvent& e);
  void OnKey(const SDL_KeyboardEvent& e);
  void Relayout();
  std::string Message() const;
  void SaveCopy();

  ContainerReader* reader_;
  VideoRenderer* video_;
  SdlView* view_;
  SdlBars bars_;
  PlayerCommands commands_;
  SeekBarModel seek_;
  CursorAutoHide cursor_;
  std::string hover_tip_;
  std::string recording_path_;
  CopySaver saver_;
  CopySaver::State copy_state_ = CopySaver::State::kIdle;
  bool quit_ = false;
  bool dragging_picture_ = false;
  Point drag_start_cursor_, drag_start_scroll_;
  Rect saved_;  // the window's place before full screen
  SDL_Cursor* hand_ = nullptr;
  SDL_Cursor* no_ = nullptr;
  SDL_Cursor* arrow_ = nullptr;
  // Seeks run off the event thread; the newest place of a drag wins.
  std::unique_ptr<BackgroundSeek> seeker_;
};

}  // namespace kmr
