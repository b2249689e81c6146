// A small stand-alone recording for the tools' tests: 32 × 16 pixels at 10
// frames a second, one byte of the picture changing in each frame.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recorder/control/frame_grid.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "recorder/outputs/video_source.h"
#include "tools/kmrtool/offline_source.h"

namespace kmr::testing {

inline void WriteSmallRecording(const std::string& path, uint32_t frames) {
  StandaloneContainerWriter writer;
  writer.SetPath(path.c_str());
  OfflineSource source(32, 16, 32, 10);
  ContainerVideoStream video;
  ASSERT_TRUE(video.Attach(FormatOf(source)));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  ASSERT_TRUE(writer.Open());
  std::vector<uint8_t> raw(source.RawFrameBytes());
  for (uint32_t i = 0; i < frames; ++i) {
    raw[i * 4 % raw.size()] ^= 0xFF;
    ASSERT_TRUE(source.EncodeFrame(raw.data()));
    ASSERT_TRUE(video.Put(EncodedFrame(source, FrameGrid::SlotTime(i, 10), 1000 / 10, i)));
  }
  ASSERT_TRUE(writer.Close());
}

}  // namespace kmr::testing
