#include "recorder/ui/region/region_tracker.h"

#include <algorithm>
#include <utility>

#include "recorder/capture/capture_rect.h"

namespace kmr {

RegionTracker::RegionTracker(RegionDesktop* desktop, BorderWindow* border, RegionOwner* owner,
                             std::function<void(const Rect&)> capture)
    : desktop_(desktop), border_(border), owner_(owner), capture_(std::move(capture)) {}

Rect& RegionTracker::Current() {
  switch (mode_) {
    case kFullScreen:
      return screen_;
    case kWindow:
      return window_;
    default:
      return region_;
  }
}

Rect RegionTracker::GetRect() const {
  switch (mode_) {
    case kFullScreen:
      return screen_;
    case kWindow:
      return window_;
    default:
      return region_;
  }
}

void RegionTracker::SetMode(int mode) {
  mode_ = mode == kFullScreen || mode == kWindow ? mode : kRegion;
  if (mode_ == kRegion) drag_ = 0;
}

void RegionTracker::SetRect(const Rect& r) {
  Current() = r;
  Update(/*write_edits=*/true);
}

void RegionTracker::AttachEdits(RegionEdits* edits) {
  edits_ = edits;
  if (edits_ == nullptr) return;
  for (int f = 0; f < 4; ++f) last_edit_[f] = edits_->Read(static_cast<RegionEdits::Field>(f));
}

// Without edit fields the last values stand for them.
void RegionTracker::WriteEdits(const Rect& r) {
  const int32_t values[4] = {r.left, r.top, r.Width(), r.Height()};
  for (int f = 0; f < 4; ++f) {
    if (values[f] == last_edit_[f]) continue;
    if (edits_ != nullptr) edits_->Write(static_cast<RegionEdits::Field>(f), values[f]);
    last_edit_[f] = values[f];
  }
}

void RegionTracker::SetRecording(bool on) {
  if (on == recording_) return;
  if (on && selecting_) {
    desktop_->RestoreCursors();
    selecting_ = false;
    drag_ = 0;
  }
  recording_ = on;
  Update(false);
}

bool RegionTracker::SetSelecting(bool on) {
  if (on == selecting_) return false;
  if (on) {
    if (owner_ != nullptr) owner_->HideForSelection();
    if (mode_ == kRegion) desktop_->SwapCursors(kCrossCursor);
    if (mode_ == kWindow) desktop_->SwapCursors(kHandCursor);
    // Presses and key strokes from before the selection are not part of it.
    desktop_->ReadInput();
  } else {
    desktop_->RestoreCursors();
    if (owner_ != nullptr) owner_->RestoreAfterSelection();
  }
  selecting_ = on;
  Update(false);
  return true;
}

void RegionTracker::EndSelection() {
  desktop_->RestoreCursors();
  // Over before the owner restores its window: the border then follows
  // the options again.
  selecting_ = false;
  if (owner_ != nullptr) owner_->RestoreAfterSelection();
}

void RegionTracker::Tick() {
  phase_ = phase_ >= 8 ? 1 : phase_ + 1;
  Update(false);
}

void RegionTracker::Update(bool write_edits) {
  if (write_edits) WriteEdits(Current());
  if (!(recording_ && !screen_.IsEmpty())) {
    screen_ = desktop_->Screen();
    if (mode_ == kFullScreen) WriteEdits(screen_);
  }
  if (mode_ == kRegion && !recording_) TrackRegion();
  if (mode_ == kWindow) TrackWindow();

  if (border_ != nullptr) {
    border_->KeepOnTop();
    Rect b = Current();
    if (recording_) b = Rect{b.left - 1, b.top - 1, b.right + 1, b.bottom + 1};
    if (!ever_placed_ || !(b == placed_)) {
      border_->Place(b);
      placed_ = b;
      ever_placed_ = true;
    }
    border_->Draw(phase_);
  }
  if (recording_ && capture_) capture_(Current());
  if (border_ != nullptr && !selecting_ && !recording_ && (owner_ == nullptr || !owner_->IsVisible())) {
    border_->Hide();
  }
}

void RegionTracker::TrackRegion() {
  const Rect before = region_;
  if (!selecting_) {
    if (edits_ != nullptr) {
      for (int f = 0; f < 4; ++f) last_edit_[f] = edits_->Read(static_cast<RegionEdits::Field>(f));
    }
    region_ = Rect{last_edit_[0], last_edit_[1], last_edit_[0] + last_edit_[2], last_edit_[1] + last_edit_[3]};
  } else {
    const SelectionInput in = desktop_->ReadInput();
    if (in.escape || in.right_down) {
      EndSelection();
      drag_ = 0;
      return;
    }
    if (in.left_down) {
      if (drag_ == 0) {
        anchor_ = in.pressed_at;
        drag_ = 1;
      } else if (drag_ == 2) {
        EndSelection();
        drag_ = 0;
        return;
      }
    }
    if (in.left_up && drag_ == 1) drag_ = 2;
    if (drag_ != 0) {
      // Both the anchor and the pointer lie inside the rectangle.
      region_ = Rect{std::min(anchor_.x, in.cursor.x), std::min(anchor_.y, in.cursor.y),
                     std::max(anchor_.x, in.cursor.x) + 1, std::max(anchor_.y, in.cursor.y) + 1};
    }
  }
  if (!screen_.IsEmpty()) region_ = ClampToScreen(screen_, region_);
  if (selecting_ || !(region_ == before)) WriteEdits(region_);
}

void RegionTracker::TrackWindow() {
  if (selecting_ && !recording_) {
    const SelectionInput in = desktop_->ReadInput();
    if (in.escape || in.left_down || in.right_down) {
      EndSelection();  // the window hovered at the last tick stays chosen
    } else {
      const uintptr_t w = desktop_->WindowAt(in.cursor);
      if (w != 0) tracked_ = w;
    }
  }
  const std::optional<Rect> w = tracked_ != 0 ? desktop_->WindowRect(tracked_) : std::nullopt;
  if (w && !w->IsEmpty() && !Intersect(screen_, *w).IsEmpty()) {
    window_ = recording_ ? FollowWindow(screen_, window_, w) : ClampToScreen(screen_, *w);
  } else if (!recording_) {
    window_ = Rect{};
  }
  WriteEdits(window_);
}

void CursorSwap::Replace(int requested_id) {
  if (active_) return;
  for (int i = 0; i < 13; ++i) {
    saved_[i] = 0;
    if (kIds[i] == requested_id) continue;
    saved_[i] = cursors_->CopyCurrent(kIds[i]);
    // A cursor that could not be saved could never be put back: it stays.
    if (saved_[i] == 0) continue;
    const SystemCursors::Handle shape = cursors_->CopyStandard(requested_id);
    if (shape != 0 && !cursors_->SetSystem(shape, kIds[i])) cursors_->Destroy(shape);
  }
  active_ = true;
}

void CursorSwap::Restore() {
  if (!active_) return;
  for (int i = 0; i < 13; ++i) {
    if (saved_[i] != 0 && !cursors_->SetSystem(saved_[i], kIds[i])) cursors_->Destroy(saved_[i]);
    saved_[i] = 0;
  }
  active_ = false;
}

}  // namespace kmr
