// The rectangle the recorder records, and the border that shows it on the
// screen. Three modes (the whole screen, a fixed region typed in or dragged
// out with the mouse, one window picked with the mouse and followed); a tick
// every 50 ms refreshes the rectangle from the mode's source, keeps the four
// number fields in step, moves, reshapes and animates the border, and while
// recording hands the rectangle to the capture.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "shared/geometry.h"

namespace kmr {

// What the pointer and the keyboard did since the previous tick.
struct SelectionInput {
  Point cursor;             // where the pointer is now
  bool escape = false;      // Esc pressed
  bool left_down = false;   // left button pressed
  Point pressed_at;         // where it was pressed (the pointer may have moved on)
  bool left_up = false;     // left button released
  bool right_down = false;  // right button pressed
};

// The desktop the tracker works on.
class RegionDesktop {
 public:
  virtual ~RegionDesktop() = default;
  virtual Rect Screen() = 0;
  virtual SelectionInput ReadInput() = 0;
  // The top-level window under a point (never the border window); 0 for none.
  virtual uintptr_t WindowAt(Point p) = 0;
  // A window's rectangle on the screen; nothing when it is gone or hidden.
  virtual std::optional<Rect> WindowRect(uintptr_t window) = 0;
  // Every pointer shape becomes the given standard cursor (kCrossCursor,
  // kHandCursor) until RestoreCursors.
  virtual void SwapCursors(int cursor_id) = 0;
  virtual void RestoreCursors() = 0;
};

// The border window: a frame 1 pixel wide with running dashes.
class BorderWindow {
 public:
  virtual ~BorderWindow() = default;
  // Moves and sizes the window to r and cuts it to the 1-pixel frame.
  virtual void Place(const Rect& r) = 0;
  // Draws the dashes for a phase 1..8.
  virtual void Draw(int phase) = 0;
  // Puts the window on top of the others without activating it.
  virtual void KeepOnTop() = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
};

// The four number fields of the region: left, top, width, height.
class RegionEdits {
 public:
  enum Field { kLeft = 0, kTop = 1, kWidth = 2, kHeight = 3 };
  virtual ~RegionEdits() = default;
  // The field's number; text that is not a number reads as 0.
  virtual int32_t Read(Field field) = 0;
  virtual void Write(Field field, int32_t value) = 0;
};

// The window that owns the tracker (the settings window on Windows).
class RegionOwner {
 public:
  virtual ~RegionOwner() = default;
  // Out of the way while the user points at the screen.
  virtual void HideForSelection() = 0;
  virtual void RestoreAfterSelection() = 0;
  virtual bool IsVisible() = 0;
};

class RegionTracker {
 public:
  enum Mode { kFullScreen = 0, kRegion = 1, kWindow = 2 };
  static constexpr int kTickMs = 50;
  static constexpr int kCrossCursor = 32515;
  static constexpr int kHandCursor = 32649;

  // border may be null (no border shown); capture receives the rectangle
  // at every tick while recording.
  RegionTracker(RegionDesktop* desktop, BorderWindow* border, RegionOwner* owner,
                std::function<void(const Rect&)> capture = {});

  void SetMode(int mode);
  int GetMode() const { return mode_; }
  // Copies r into the current mode's rectangle and rewrites the edits.
  void SetRect(const Rect& r);
  // The current mode's rectangle (empty refuses a recording).
  Rect GetRect() const;
  void AttachEdits(RegionEdits* edits);
  void SetRecording(bool on);
  // False when nothing changed.
  bool SetSelecting(bool on);
  bool IsSelecting() const { return selecting_; }
  bool IsRecording() const { return recording_; }
  // The 50 ms timer: the dashes move on, then everything is brought up to date.
  void Tick();

  int DashPhase() const { return phase_; }
  // Where the border is: the rectangle, grown by 1 pixel while recording.
  Rect BorderRect() const { return placed_; }
  uintptr_t TrackedWindow() const { return tracked_; }
  // Window mode: follow this window (picked some other way than the mouse).
  void SetTrackedWindow(uintptr_t window) { tracked_ = window; }

 private:
  void Update(bool write_edits);
  void TrackRegion();
  void TrackWindow();
  void WriteEdits(const Rect& r);
  void EndSelection();
  Rect& Current();

  RegionDesktop* desktop_;
  BorderWindow* border_;
  RegionOwner* owner_;
  std::function<void(const Rect&)> capture_;
  RegionEdits* edits_ = nullptr;
  int32_t last_edit_[4] = {0, 0, 0, 0};

  bool recording_ = false;
  bool selecting_ = false;
  int mode_ = kRegion;
  Rect screen_, region_, window_;
  int drag_ = 0;  // 0 none, 1 pressed, 2 released after a press
  Point anchor_;
  uintptr_t tracked_ = 0;
  int phase_ = 1;
  Rect placed_;
  bool ever_placed_ = false;
};

// Swaps every system cursor for one standard shape and puts them all back:
// one saved copy per cursor id, none for the requested shape itself.
class SystemCursors {
 public:
  using Handle = uintptr_t;
  virtual ~SystemCursors() = default;
  // A copy of the cursor the system now shows for an id; 0 on failure.
  virtual Handle CopyCurrent(int id) = 0;
  // A copy of the standard cursor of an id; 0 on failure.
  virtual Handle CopyStandard(int id) = 0;
  // Makes a copy the system cursor of an id; the system owns it on success.
  virtual bool SetSystem(Handle cursor, int id) = 0;
  virtual void Destroy(Handle cursor) = 0;
};

class CursorSwap {
 public:
  // The system cursor ids, in the order they are swapped.
  static constexpr int kIds[13] = {32512, 32513, 32514, 32515, 32516, 32642, 32643,
                                   32644, 32645, 32646, 32648, 32649, 32650};
  explicit CursorSwap(SystemCursors* cursors) : cursors_(cursors) {}
  ~CursorSwap() { Restore(); }
  // Only when no swap is active.
  void Replace(int requested_id);
  void Restore();
  bool Active() const { return active_; }

 private:
  SystemCursors* cursors_;
  bool active_ = false;
  SystemCursors::Handle saved_[13] = {};
};

}  // namespace kmr
