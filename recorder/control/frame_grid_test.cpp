#include "recorder/control/frame_grid.h"

#include <gtest/gtest.h>

namespace kmr {
namespace {

// 15 fps: slots of 66 ms at 0, 67, 133, 200, 267 … ms.
TEST(FrameGrid, APlaceIsTakenOnlyOnceTheFrameWasHandedOn) {
  const FrameTimebase fps15 = FrameTimebase::Fps(15);
  FrameGrid grid;
  MediaPacket place = grid.Place(fps15, 0);
  EXPECT_EQ(place.time_stamp, 0u);
  EXPECT_EQ(place.duration, 66u);
  EXPECT_EQ(place.slot, 0u);
  EXPECT_EQ(grid.Count(), 0u) << "placing does not move the grid";
  EXPECT_EQ(grid.Place(fps15, 0).slot, 0u) << "a frame that was not handed on leaves its slot free";
  grid.Take(place);
  place = grid.Place(fps15, 10);  // early: the next slot, never one already taken
  EXPECT_EQ(place.slot, 1u);
  EXPECT_EQ(place.time_stamp, 67u);
  grid.Take(place);
  place = grid.Place(fps15, 300);  // late: slots 2 and 3 ended before 300 ms
  EXPECT_EQ(place.slot, 4u);
  EXPECT_EQ(place.time_stamp, 267u);
  grid.Take(place);
  EXPECT_EQ(grid.Count(), 5u);
}

// A compressor's time line: 25 frames a second, slots of 40 ms.
TEST(FrameGrid, PlacesOnACompressorsTimeLine) {
  const FrameTimebase t = FrameTimebase::ScaleRate(1, 25);
  FrameGrid grid;
  grid.Take(grid.Place(t, 0));
  const MediaPacket place = grid.Place(t, 95);
  EXPECT_EQ(place.slot, 2u);
  EXPECT_EQ(place.time_stamp, 80u);
  EXPECT_EQ(place.duration, 40u);
}

}  // namespace
}  // namespace kmr
