// The player frame's decisions without a window.
#include "player/frame/frame_logic.h"

#include <gtest/gtest.h>

#include "player/container_reader.h"

namespace kmr {
namespace {

TEST(PlayTime, MinutesUnpaddedAndHoursFromAnHourOn) {
  EXPECT_EQ(FormatPlayTime(65500, 200000), "1:05/3:20");
  EXPECT_EQ(FormatPlayTime(0, 0), "0:00/0:00");
  EXPECT_EQ(FormatPlayTime(599999, 3599999), "9:59/59:59");
  EXPECT_EQ(FormatPlayTime((62 * 60 + 5) * 1000, 70 * 60 * 1000), "1:2:05/1:10:00");
  EXPECT_EQ(FormatPlayTime(5000, 3600000), "0:0:05/1:0:00");
}

TEST(SeekBar, ThumbFollowsThePositionExceptWhileHeld) {
  SeekBarModel bar;
  bar.SetRange(0);
  EXPECT_EQ(bar.Max(), 1) << "at least one place";
  bar.SetRange(200);
  EXPECT_FALSE(bar.Enabled());
  bar.SetPosition(5000);
  EXPECT_EQ(bar.Thumb(), 0) << "no duration: the thumb stays at the start";
  bar.SetDuration(60000);
  EXPECT_TRUE(bar.Enabled());
  bar.SetPosition(30000);
  EXPECT_EQ(bar.Thumb(), 100);
  bar.SetPosition(100);  // 0.33 of a place rounds down, 0.5 rounds up
  EXPECT_EQ(bar.Thumb(), 0);
  bar.SetPosition(150);
  EXPECT_EQ(bar.Thumb(), 1);
  bar.SetPosition(90000);
  EXPECT_EQ(bar.Thumb(), 200) << "clamped to the range";
  bar.SetDuration(60000);
  EXPECT_EQ(bar.Thumb(), 200) << "the same duration keeps the thumb";
  bar.SetDuration(120000);
  EXPECT_EQ(bar.Thumb(), 0) << "a new duration puts it back";

  // A press jumps to the place; the timer does not move a held thumb.
  bar.Press(150);
  EXPECT_TRUE(bar.Dragging());
  bar.SetPosition(1000);
  EXPECT_EQ(bar.Thumb(), 150);
  bar.Drag(500);
  EXPECT_EQ(bar.Thumb(), 200);
  bar.Drag(-4);
  EXPECT_EQ(bar.Thumb(), 0);
  bar.Drag(50);
  EXPECT_EQ(bar.Release(), 30000u) << "50 of 200 places of 120 s";
  EXPECT_FALSE(bar.Dragging());
  bar.SetPosition(60000);
  EXPECT_EQ(bar.Thumb(), 100);
  EXPECT_EQ(bar.TimeAt(200), 120000u);
}

TEST(ViewLayout, ScreenSizedVideoIsFullScreenOthersFitAtLeast480By360) {
  EXPECT_TRUE(PlanView(1024, 768, 1024, 768).full_screen);
  const ViewPlan small = PlanView(320, 200, 1024, 768);
  EXPECT_FALSE(small.full_screen);
  EXPECT_EQ(small.width, 480);
  EXPECT_EQ(small.height, 360);
  const ViewPlan wide = PlanView(800, 300, 1024, 768);
  EXPECT_EQ(wide.width, 800);
  EXPECT_EQ(wide.height, 360);
  EXPECT_FALSE(PlanView(1024, 767, 1024, 768).full_screen);
}

TEST(ViewLayout, DraggingIsClampedToTheVideo) {
  // A 1000 × 300 video in a 400 × 360 view: only across can it move.
  EXPECT_TRUE(CanDrag(false, 1000, 300, 400, 360));
  EXPECT_FALSE(CanDrag(true, 1000, 300, 400, 360)) << "a scaled picture fits";
  EXPECT_FALSE(CanDrag(false, 400, 360, 400, 360));
  const Point start{100, 0};
  Point p = DragScroll(start, {200, 200}, {150, 100}, 1000, 300, 400, 360);
  EXPECT_EQ(p.x, 150);
  EXPECT_EQ(p.y, 0) << "the video fits downwards";
  p = DragScroll(start, {200, 200}, {900, 200}, 1000, 300, 400, 360);
  EXPECT_EQ(p.x, 0);
  p = DragScroll(start, {200, 200}, {-900, 200}, 1000, 300, 400, 360);
  EXPECT_EQ(p.x, 600);
}

TEST(CursorAndBars, CursorHidesAfterTwoSecondsStillAndBarsByTheEdges) {
  CursorAutoHide cursor;
  cursor.Moved(10000);
  EXPECT_FALSE(cursor.Check(12000));
  EXPECT_TRUE(cursor.Visible());
  EXPECT_TRUE(cursor.Check(12001));
  EXPECT_FALSE(cursor.Visible());
  EXPECT_FALSE(cursor.Check(20000)) << "hidden once";
  cursor.Moved(20000);
  EXPECT_TRUE(cursor.Visible());
  // 768 high, menu band 20, status band 22.
  EXPECT_FALSE(BarsHiddenAt(5, 768, 20, 22));
  EXPECT_TRUE(BarsHiddenAt(20, 768, 20, 22));
  EXPECT_TRUE(BarsHiddenAt(746, 768, 20, 22));
  EXPECT_FALSE(BarsHiddenAt(747, 768, 20, 22));
}

TEST(Commands, EnabledStatesAndCheckMarksFollowThePlayback) {
  ContainerReader reader;  // nothing open: not running
  PlayerCommands commands(&reader);
  EXPECT_TRUE(commands.State(PlayerCommand::kPlay).enabled);
  EXPECT_FALSE(commands.State(PlayerCommand::kPlay).checked);
  EXPECT_TRUE(commands.State(PlayerCommand::kQuickPlay).enabled);
  EXPECT_FALSE(commands.State(PlayerCommand::kPause).enabled);
  EXPECT_FALSE(commands.State(PlayerCommand::kStop).enabled);
  EXPECT_FALSE(commands.Run(PlayerCommand::kPause));
  EXPECT_FALSE(commands.Run(PlayerCommand::kPlay)) << "nothing to play";
  EXPECT_TRUE(commands.Run(PlayerCommand::kLoop));
  EXPECT_TRUE(commands.State(PlayerCommand::kLoop).checked);
  EXPECT_TRUE(reader.GetLoop());
  EXPECT_TRUE(commands.Run(PlayerCommand::kFit));
  EXPECT_TRUE(commands.State(PlayerCommand::kFit).checked);
  EXPECT_TRUE(commands.Run(PlayerCommand::kFullScreen));
  EXPECT_TRUE(commands.FullScreen());
}

// Releasing F5 to F8 or Esc with the seek bar focused does not seek.
TEST(SeekBarKeys, OnlyTheBarsOwnKeysSeek) {
  for (uint32_t key : {0x21u, 0x22u, 0x23u, 0x24u, 0x25u, 0x26u, 0x27u, 0x28u}) EXPECT_TRUE(IsSeekBarKey(key)) << key;
  for (uint32_t key : {0x74u, 0x75u, 0x76u, 0x77u, 0x1Bu, 0x0Du, 0x20u, 0x29u, 0x7Au}) {
    EXPECT_FALSE(IsSeekBarKey(key)) << key;
  }
}

}  // namespace
}  // namespace kmr
