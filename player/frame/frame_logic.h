// What the player's frame decides without a window, the same in both
// players: the time display, the seek bar's thumb, the window's layout for a
// video, drag scrolling, when the cursor and the bars hide, and the commands
// with their enabled states and check marks.
#pragma once

#include <cstdint>
#include <string>

#include "shared/geometry.h"

namespace kmr {

class ContainerReader;

// "m:ss/m:ss", or "h:m:ss/h:m:ss" when the total is an hour or more (minutes
// are never zero-padded): 65.5 s of 200 s → "1:05/3:20".
std::string FormatPlayTime(uint32_t position_ms, uint32_t duration_ms);

// The seek bar: a range of thumb places as wide as its channel, the
// recording's duration, and the thumb following the position except while
// the user drags it.
class SeekBarModel {
 public:
  // The channel's width in pixels (at least 1 place).
  void SetRange(int32_t width);
  int32_t Max() const { return max_; }
  // Enables the bar for a non-zero duration; a new duration puts the thumb at 0.
  void SetDuration(uint32_t ms);
  bool Enabled() const { return duration_ != 0; }
  uint32_t Duration() const { return duration_; }
  // Moves the thumb to the position unless the user holds it.
  void SetPosition(uint32_t ms);
  // A press in the channel moves the thumb there and starts dragging.
  void Press(int32_t place);
  void Drag(int32_t place);
  bool Dragging() const { return dragging_; }
  // The release: the time under the thumb, where playback goes.
  uint32_t Release();
  int32_t Thumb() const { return thumb_; }
  uint32_t TimeAt(int32_t place) const;

 private:
  int32_t Clamp(int32_t place) const { return place < 0 ? 0 : place > max_ ? max_ : place; }
  int32_t max_ = 1;
  int32_t thumb_ = 0;
  uint32_t duration_ = 0;
  bool dragging_ = false;
};

// The view for a video: a screen-sized video plays full screen; otherwise
// the window fits the video, never smaller than 480 × 360.
struct ViewPlan {
  bool full_screen = false;
  int32_t width = 0, height = 0;
};
ViewPlan PlanView(int32_t video_width, int32_t video_height, int32_t screen_width, int32_t screen_height);

// Dragging the picture: the scroll position follows the cursor, clamped so
// that the view never leaves the video. The axes where the video fits stay
// at 0.
Point DragScroll(Point start_scroll, Point start_cursor, Point cursor, int32_t video_width, int32_t video_height,
                 int32_t client_width, int32_t client_height);
// Whether the picture can be dragged (larger than the view and not scaled).
bool CanDrag(bool scaled, int32_t video_width, int32_t video_height, int32_t client_width, int32_t client_height);

// The cursor hides after 2000 ms without a move over the view.
class CursorAutoHide {
 public:
  static constexpr uint32_t kHideAfterMs = 2000;
  void Moved(uint32_t now_ms) {
    last_move_ = now_ms;
    visible_ = true;
  }
  // On the progress timer: true when the cursor has just been hidden.
  bool Check(uint32_t now_ms) {
    if (!visible_ || now_ms - last_move_ <= kHideAfterMs) return false;
    visible_ = false;
    return true;
  }
  bool Visible() const { return visible_; }

 private:
  uint32_t last_move_ = 0;
  bool visible_ = true;
};

// In full screen while playing, the bars hide when the cursor is away from
// the screen's top (the menu's height) and bottom (the status bar's height).
bool BarsHiddenAt(int32_t cursor_y, int32_t screen_height, int32_t top_band, int32_t bottom_band);

// The player's commands over the reader; the frame keeps fit and full screen.
// The keys a seek bar moves its thumb with (arrows, Page Up and Down, Home,
// End, as virtual-key codes): only their release seeks.
bool IsSeekBarKey(uint32_t virtual_key);

enum class PlayerCommand { kFit, kFullScreen, kPlay, kQuickPlay, kPause, kStop, kLoop };
struct CommandState {
  bool enabled = false;
  bool checked = false;
};

class PlayerCommands {
 public:
  explicit PlayerCommands(ContainerReader* reader) : reader_(reader) {}
  // Runs a command (fit and full screen only flip their flags); false when
  // it is not enabled or playback could not start.
  bool Run(PlayerCommand c);
  CommandState State(PlayerCommand c) const;
  bool Fit() const { return fit_; }
  bool FullScreen() const { return full_screen_; }
  void SetFullScreen(bool on) { full_screen_ = on; }
  void SetFit(bool on) { fit_ = on; }

 private:
  ContainerReader* reader_;
  bool fit_ = false;
  bool full_screen_ = false;
};

}  // namespace kmr
