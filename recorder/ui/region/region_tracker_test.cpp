// The region tracker over a scripted desktop: typed and dragged regions,
// the clamp, window picking and following, the border and the cursor swap.
#include "recorder/ui/region/region_tracker.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace kmr {
namespace {

class FakeDesktop : public RegionDesktop {
 public:
  Rect screen{0, 0, 1024, 768};
  std::deque<SelectionInput> inputs;  // one per tick; the pointer stays put after
  Point cursor;
  std::map<uintptr_t, Rect> windows;  // id → rectangle; hit-tested in id order
  int swapped = 0;                    // the cursor shown everywhere, 0 when none
  int swaps = 0, restores = 0;

  Rect Screen() override { return screen; }
  SelectionInput ReadInput() override {
    if (inputs.empty()) {
      SelectionInput still;
      still.cursor = cursor;
      return still;
    }
    SelectionInput in = inputs.front();
    inputs.pop_front();
    cursor = in.cursor;
    return in;
  }
  uintptr_t WindowAt(Point p) override {
    for (const auto& [id, r] : windows) {
      if (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom) return id;
    }
    return 0;
  }
  std::optional<Rect> WindowRect(uintptr_t w) override {
    auto it = windows.find(w);
    if (it == windows.end()) return std::nullopt;
    return it->second;
  }
  void SwapCursors(int id) override {
    swapped = id;
    ++swaps;
  }
  void RestoreCursors() override {
    swapped = 0;
    ++restores;
  }
};

class FakeBorder : public BorderWindow {
 public:
  Rect placed;
  int places = 0, last_phase = 0;
  bool shown = false;
  void Place(const Rect& r) override {
    placed = r;
    ++places;
  }
  void Draw(int phase) override { last_phase = phase; }
  void KeepOnTop() override {}
  void Show() override { shown = true; }
  void Hide() override { shown = false; }
};

class FakeEdits : public RegionEdits {
 public:
  int32_t values[4] = {0, 0, 640, 480};
  int writes = 0;
  int32_t Read(Field f) override { return values[f]; }
  void Write(Field f, int32_t v) override {
    values[f] = v;
    ++writes;
  }
  std::string Text() const {
    return std::to_string(values[0]) + "," + std::to_string(values[1]) + " " + std::to_string(values[2]) + "x" +
           std::to_string(values[3]);
  }
};

class FakeOwner : public RegionOwner {
 public:
  bool visible = true;
  int hidden = 0, restored = 0;
  void HideForSelection() override {
    visible = false;
    ++hidden;
  }
  void RestoreAfterSelection() override {
    visible = true;
    ++restored;
  }
  bool IsVisible() override { return visible; }
};

SelectionInput At(int x, int y) {
  SelectionInput in;
  in.cursor = Point{x, y};
  return in;
}
SelectionInput Press(int x, int y) {
  SelectionInput in = At(x, y);
  in.left_down = true;
  in.pressed_at = in.cursor;
  return in;
}
SelectionInput Release(int x, int y) {
  SelectionInput in = At(x, y);
  in.left_up = true;
  return in;
}

class RegionTrackerTest : public ::testing::Test {
 protected:
  RegionTrackerTest() : tracker_(&desktop_, &border_, &owner_, [this](const Rect& r) { captured_.push_back(r); }) {
    tracker_.AttachEdits(&edits_);
  }
  FakeDesktop desktop_;
  FakeBorder border_;
  FakeEdits edits_;
  FakeOwner owner_;
  std::vector<Rect> captured_;
  RegionTracker tracker_;
};

TEST_F(RegionTrackerTest, TypedRegionMovesTheBorderAtTheNextTick) {
  tracker_.SetMode(RegionTracker::kRegion);
  edits_.values[0] = 100;
  edits_.values[1] = 100;
  edits_.values[2] = 300;
  edits_.values[3] = 200;
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{100, 100, 400, 300}));
  EXPECT_EQ(border_.placed, (Rect{100, 100, 400, 300}));
  EXPECT_EQ(edits_.writes, 0) << "the user's own numbers are not written back";
}

TEST_F(RegionTrackerTest, RegionTypedPartlyOffTheScreenIsCutAndTheEditsShowIt) {
  tracker_.SetMode(RegionTracker::kRegion);
  edits_.values[0] = 900;
  edits_.values[1] = 700;
  edits_.values[2] = 300;
  edits_.values[3] = 200;
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{900, 700, 1024, 768}));
  EXPECT_EQ(edits_.Text(), "900,700 124x68");
  edits_.values[0] = -50;  // left of the screen: at least 1 pixel stays
  edits_.values[2] = 20;
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect().left, 0);
  EXPECT_GE(tracker_.GetRect().Width(), 1);
}

TEST_F(RegionTrackerTest, DragUpLeftIncludesBothEndPointsAndFollowsUntilTheSecondPress) {
  tracker_.SetMode(RegionTracker::kRegion);
  tracker_.Tick();
  ASSERT_TRUE(tracker_.SetSelecting(true));
  EXPECT_FALSE(tracker_.SetSelecting(true)) << "no change";
  EXPECT_EQ(desktop_.swapped, RegionTracker::kCrossCursor);
  EXPECT_EQ(owner_.hidden, 1);
  // Pressed at (500, 400); by the tick the pointer has moved on.
  SelectionInput press = Press(480, 390);
  press.pressed_at = Point{500, 400};
  desktop_.inputs = {At(500, 400), press, At(350, 250), Release(200, 100)};
  for (int i = 0; i < 4; ++i) tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{200, 100, 501, 401}));
  EXPECT_EQ(edits_.Text(), "200,100 301x301");
  // Released, the rectangle still follows the pointer.
  desktop_.inputs = {At(250, 150)};
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{250, 150, 501, 401}));
  EXPECT_TRUE(tracker_.IsSelecting());
  // The second press ends the selection where the last tick left it.
  desktop_.inputs = {Press(600, 600)};
  tracker_.Tick();
  EXPECT_FALSE(tracker_.IsSelecting());
  EXPECT_EQ(tracker_.GetRect(), (Rect{250, 150, 501, 401}));
  EXPECT_EQ(desktop_.swapped, 0) << "cursors restored";
  EXPECT_EQ(owner_.restored, 1);
  // Idle again: the edits drive the region.
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{250, 150, 501, 401}));
}

TEST_F(RegionTrackerTest, EscapeOrTheRightButtonLeavesRegionSelection) {
  tracker_.SetMode(RegionTracker::kRegion);
  edits_.values[0] = 10;
  edits_.values[1] = 20;
  edits_.values[2] = 30;
  edits_.values[3] = 40;
  tracker_.Tick();
  for (bool escape : {true, false}) {
    ASSERT_TRUE(tracker_.SetSelecting(true));
    SelectionInput out = At(900, 700);
    out.escape = escape;
    out.right_down = !escape;
    desktop_.inputs = {Press(5, 5), At(100, 100), out};
    for (int i = 0; i < 3; ++i) tracker_.Tick();
    EXPECT_FALSE(tracker_.IsSelecting());
    EXPECT_EQ(desktop_.swapped, 0);
    // The next selection starts a drag of its own.
    ASSERT_TRUE(tracker_.SetSelecting(true));
    desktop_.inputs = {At(300, 300), Press(300, 300), At(310, 320)};
    for (int i = 0; i < 3; ++i) tracker_.Tick();
    EXPECT_EQ(tracker_.GetRect(), (Rect{300, 300, 311, 321}));
    tracker_.SetSelecting(false);
  }
}

TEST_F(RegionTrackerTest, EscapeDuringWindowSelectionKeepsTheHoveredWindow) {
  desktop_.windows = {{1, Rect{10, 10, 210, 110}}, {2, Rect{300, 200, 700, 500}}};
  tracker_.SetMode(RegionTracker::kWindow);
  tracker_.Tick();
  EXPECT_TRUE(tracker_.GetRect().IsEmpty()) << "no window chosen yet";
  ASSERT_TRUE(tracker_.SetSelecting(true));
  EXPECT_EQ(desktop_.swapped, RegionTracker::kHandCursor);
  desktop_.inputs = {At(50, 50), At(400, 300)};
  tracker_.Tick();
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{300, 200, 700, 500}));
  SelectionInput esc = At(50, 50);  // over window 1 when Esc arrives
  esc.escape = true;
  desktop_.inputs = {esc};
  tracker_.Tick();
  EXPECT_FALSE(tracker_.IsSelecting());
  EXPECT_EQ(tracker_.TrackedWindow(), 2u);
  EXPECT_EQ(tracker_.GetRect(), (Rect{300, 200, 700, 500}));
  EXPECT_EQ(edits_.Text(), "300,200 400x300");
  EXPECT_EQ(desktop_.swapped, 0);
  EXPECT_EQ(desktop_.restores, 1);
  // A window that goes away leaves no rectangle to record.
  desktop_.windows.erase(2);
  tracker_.Tick();
  EXPECT_TRUE(tracker_.GetRect().IsEmpty());
}

TEST_F(RegionTrackerTest, AFollowedWindowDraggedOffTheRightEdgeStaysOnScreenWithItsSize) {
  desktop_.windows = {{7, Rect{100, 100, 300, 250}}};
  tracker_.SetMode(RegionTracker::kWindow);
  tracker_.SetSelecting(true);
  desktop_.inputs = {At(150, 150), Press(150, 150)};
  tracker_.Tick();
  tracker_.Tick();
  ASSERT_FALSE(tracker_.IsSelecting());
  tracker_.SetRecording(true);
  EXPECT_EQ(border_.placed, (Rect{99, 99, 301, 251})) << "the frame lies 1 pixel outside";
  desktop_.windows[7] = Rect{500, 300, 700, 450};
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{500, 300, 700, 450}));
  desktop_.windows[7] = Rect{950, 300, 1150, 450};  // 126 pixels off the right edge
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{824, 300, 1024, 450}));
  ASSERT_FALSE(captured_.empty());
  EXPECT_EQ(captured_.back(), (Rect{824, 300, 1024, 450}));
  for (const Rect& r : captured_) {
    EXPECT_EQ(r.Width(), 200);
    EXPECT_EQ(r.Height(), 150);
    EXPECT_LE(r.right, 1024);
  }
  // Gone while recording: the last rectangle stays.
  desktop_.windows.clear();
  tracker_.Tick();
  EXPECT_EQ(tracker_.GetRect(), (Rect{824, 300, 1024, 450}));
}

TEST_F(RegionTrackerTest, TheBorderRunsItsDashesAndHidesWhenIdleWithTheOwnerAway) {
  tracker_.SetMode(RegionTracker::kFullScreen);
  border_.shown = true;
  std::vector<int> phases;
  for (int i = 0; i < 9; ++i) {
    tracker_.Tick();
    phases.push_back(border_.last_phase);
  }
  EXPECT_EQ(phases, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 1, 2}));
  EXPECT_EQ(border_.placed, (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(edits_.Text(), "0,0 1024x768");
  const int places = border_.places;
  tracker_.Tick();
  EXPECT_EQ(border_.places, places) << "an unchanged border is not moved again";
  owner_.visible = false;
  tracker_.Tick();
  EXPECT_FALSE(border_.shown);
  border_.shown = true;
  tracker_.SetRecording(true);
  tracker_.Tick();
  EXPECT_TRUE(border_.shown) << "kept while recording";
  EXPECT_EQ(border_.placed, (Rect{-1, -1, 1025, 769}));
  EXPECT_EQ(captured_.back(), (Rect{0, 0, 1024, 768}));
}

TEST_F(RegionTrackerTest, RecordingStartedDuringASelectionPutsTheCursorsBack) {
  tracker_.SetMode(RegionTracker::kRegion);
  tracker_.SetRect(Rect{40, 50, 140, 150});
  EXPECT_EQ(edits_.Text(), "40,50 100x100");
  tracker_.SetSelecting(true);
  tracker_.SetRecording(true);
  EXPECT_FALSE(tracker_.IsSelecting());
  EXPECT_EQ(desktop_.swapped, 0);
  // While recording the region is what it was when the recording started.
  edits_.values[0] = 0;
  tracker_.Tick();
  EXPECT_EQ(captured_.back(), (Rect{40, 50, 140, 150}));
}

TEST(RegionTrackerWithoutEdits, ASetRectangleStaysWithoutFields) {
  FakeDesktop desktop;
  RegionTracker tracker(&desktop, nullptr, nullptr);
  tracker.SetMode(RegionTracker::kRegion);
  tracker.SetRect(Rect{5, 6, 105, 56});
  tracker.Tick();
  tracker.Tick();
  EXPECT_EQ(tracker.GetRect(), (Rect{5, 6, 105, 56}));
}

// Every handle is a new number; what it shows is kept beside it, and what
// the system shows is kept per cursor id.
class FakeCursors : public SystemCursors {
 public:
  std::map<int, std::string> shown;
  std::map<Handle, std::string> what;
  std::vector<std::string> destroyed;
  int standard_copies = 0;
  int refuse_id = 0;
  int uncopyable_id = 0;  // CopyCurrent fails for it
  FakeCursors() {
    for (int id : CursorSwap::kIds) shown[id] = "system " + std::to_string(id);
  }
  Handle CopyCurrent(int id) override { return id == uncopyable_id ? 0 : New(shown[id]); }
  Handle CopyStandard(int id) override {
    ++standard_copies;
    return New("standard " + std::to_string(id));
  }
  bool SetSystem(Handle h, int id) override {
    if (id == refuse_id) return false;
    shown[id] = what.at(h);
    return true;
  }
  void Destroy(Handle h) override { destroyed.push_back(what.at(h)); }

 private:
  Handle New(const std::string& text) {
    what[++next_] = text;
    return next_;
  }
  Handle next_ = 0;
};

TEST(CursorSwap, EveryCursorIsSwappedAndPutBackExceptTheRequestedOne) {
  FakeCursors cursors;
  {
    CursorSwap swap(&cursors);
    swap.Replace(RegionTracker::kCrossCursor);
    EXPECT_EQ(cursors.standard_copies, 12);
    for (int id : CursorSwap::kIds) {
      EXPECT_EQ(cursors.shown[id], id == RegionTracker::kCrossCursor ? "system 32515" : "standard 32515") << id;
    }
    swap.Replace(RegionTracker::kHandCursor);
    EXPECT_EQ(cursors.standard_copies, 12) << "a second swap waits for the restore";
  }  // restored when the swap goes away
  for (int id : CursorSwap::kIds) EXPECT_EQ(cursors.shown[id], "system " + std::to_string(id));
  EXPECT_TRUE(cursors.destroyed.empty());
}

// A cursor the system would not copy cannot be put back after the
// selection: it is left as it is instead of being swapped for good.
TEST(CursorSwap, ACursorThatCannotBeSavedIsNotSwapped) {
  FakeCursors cursors;
  cursors.uncopyable_id = 32513;
  CursorSwap swap(&cursors);
  swap.Replace(RegionTracker::kCrossCursor);
  EXPECT_EQ(cursors.shown[32513], "system 32513");
  EXPECT_EQ(cursors.shown[32512], "standard 32515");
  swap.Restore();
  for (int id : CursorSwap::kIds) EXPECT_EQ(cursors.shown[id], "system " + std::to_string(id)) << id;
  EXPECT_TRUE(cursors.destroyed.empty());
}

TEST(CursorSwap, CopiesTheSystemRefusesAreDestroyed) {
  FakeCursors cursors;
  cursors.refuse_id = 32650;
  CursorSwap swap(&cursors);
  swap.Replace(RegionTracker::kHandCursor);
  EXPECT_EQ(cursors.destroyed, (std::vector<std::string>{"standard 32649"}));
  swap.Restore();
  EXPECT_EQ(cursors.destroyed, (std::vector<std::string>{"standard 32649", "system 32650"}));
  EXPECT_FALSE(swap.Active());
  for (int id : CursorSwap::kIds) EXPECT_EQ(cursors.shown[id], "system " + std::to_string(id));
}

}  // namespace
}  // namespace kmr
