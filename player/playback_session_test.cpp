// The players' session around their window: the recording is looked at
// first, the command line's loop, quick play and seek reach the reader, and
// the end reports a recording that could not be played to its end.
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/video_source.h"
#include "player/playback_session.h"

#include <gtest/gtest.h>

#include "player/video_renderer.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "shared/testing/temp_dir.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr {
namespace {

// Two seconds of 32 × 16 frames at 10 fps.
std::string MakeRecording(const testing::TempDir& dir) {
  const std::string path = dir.File("clip.kmr");
  OfflineSource source(32, 16, 32, 10);
  StandaloneContainerWriter writer;
  ContainerVideoStream video;
  writer.SetPath(path.c_str());
  video.Attach(FormatOf(source));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  EXPECT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes());
  for (uint32_t i = 0; i < 20; ++i) {
    raw[i * 4 % raw.size()] ^= 0xFF;
    EXPECT_TRUE(source.EncodeFrame(raw.data()));
    EXPECT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 10), 1000 / 10, i)));
  }
  writer.Close();
  return path;
}

TEST(PlaybackSession, TheCommandLineReachesTheReader) {
  testing::TempDir dir;
  PlayerOptions options;
  options.path = MakeRecording(dir);
  options.quick = true;
  options.loop = true;
  options.seek_ms = 1500;
  ContainerReader reader;
  VideoRenderer video;
  PlaybackSession session(options, &reader, &video, nullptr);
  std::string error;
  ASSERT_TRUE(session.Check(&error)) << error;
  ASSERT_TRUE(session.Start(&error)) << error;
  EXPECT_TRUE(reader.GetQuickPlay()) << "--quick";
  EXPECT_TRUE(reader.GetLoop()) << "--loop";
  EXPECT_TRUE(session.Begin().empty());
  EXPECT_GE(reader.GetPosition(), 1400u) << "--seek";
  EXPECT_EQ(session.Finish(&error), 0);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(reader.IsRunning());
}

TEST(PlaybackSession, WhatCannotBePlayedIsSaidWithItsName) {
  testing::TempDir dir;
  testing::WriteAll(dir.File("notes.txt"), std::vector<uint8_t>(64, 'a'));
  PlayerOptions options;
  options.path = dir.File("notes.txt");
  ContainerReader reader;
  VideoRenderer video;
  PlaybackSession session(options, &reader, &video, nullptr);
  std::string error;
  EXPECT_FALSE(session.Check(&error));
  EXPECT_EQ(error.rfind(options.path + ": ", 0), 0u) << error;
  EXPECT_NE(error.find("not a recording"), std::string::npos) << error;
  PlayerOptions own;
  EXPECT_EQ(PlaybackSession(own, &reader, &video, nullptr).Name(), "This program");
  // Played to its end with --exit-at-end: nothing to report, exit 0.
  options.path = MakeRecording(dir);
  options.exit_at_end = true;
  options.quick = true;
  PlaybackSession played(options, &reader, &video, nullptr);
  ASSERT_TRUE(played.Start(&error)) << error;
  EXPECT_TRUE(played.Begin().empty());
  EXPECT_EQ(played.Finish(&error), 0) << error;
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace kmr
