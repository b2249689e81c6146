// The capture source over the duplication mirror, with a scripted system
// that fills and moves rectangles of two outputs as a desktop would (and
// tells them as dirty and move rectangles): every decoded frame equals the
// scripted desktop over the capture rectangle, and the recording made of the
// packets is one the tools' reader checks and plays to the same last picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <random>

#include "platform/desktop_state/fake/scripted_desktop_state.h"
#include "platform/mirror/duplication_mirror.h"
#include "platform/mirror/testing/scripted_duplication.h"
#include "player/codecs/lossless_decoder.h"
#include "recorder/capture/screen_capture_source.h"
#include "recorder/capture/testing/capture_and_code.h"
#include "recorder/codecs/lossless_frame_encoder.h"
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/container_writer.h"
#include "player/recording_file.h"
#include "tools/kmrtool/raw_export.h"

namespace kmr {
namespace {

using platform::testing::ScriptedOutput;
using platform::testing::ScriptedSystem;

// The output's screen after a fill or a move, and what the system tells.
void Fill(ScriptedOutput& out, const Rect& r, uint32_t colour, platform::DuplicationFrame* frame) {
  for (int32_t y = r.top; y < r.bottom; ++y) {
    for (int32_t x = r.left; x < r.right; ++x) out.screen[static_cast<size_t>(y) * out.Width() + x] = colour;
  }
  frame->dirty.push_back(r);
}

void Move(ScriptedOutput& out, const Rect& to, int32_t from_x, int32_t from_y, platform::DuplicationFrame* frame) {
  std::vector<uint32_t> before = out.screen;
  for (int32_t y = 0; y < to.Height(); ++y) {
    for (int32_t x = 0; x < to.Width(); ++x) {
      out.screen[static_cast<size_t>(to.top + y) * out.Width() + to.left + x] =
          before[static_cast<size_t>(from_y + y) * out.Width() + from_x + x];
    }
  }
  frame->moves.push_back(platform::MovedRect{from_x, from_y, to});
}

TEST(DuplicationCapture, DecodedFramesEqualTheDuplicatedDesktop) {
  auto* system = new ScriptedSystem();
  // Two monitors side by side, the second one lower.
  for (const Rect& place : {Rect{0, 0, 160, 96}, Rect{160, 16, 240, 112}}) {
    ScriptedOutput out;
    out.place = place;
    out.screen.assign(static_cast<size_t>(place.Width()) * place.Height(), 0x00336699);
    system->outputs.push_back(std::move(out));
  }
  platform::DuplicationMirror mirror{std::unique_ptr<platform::DuplicationSystem>(system)};
  platform::ScriptedDesktopState desktop;
  LosslessFrameEncoder codec(&desktop);
  ScreenCaptureSource source(&mirror);
  ASSERT_TRUE(source.Prepare(&codec));
  source.SetRect(Rect{8, 4, 232, 108});
  const Rect cap = source.CaptureRect();
  LosslessDecoder decoder;
  ASSERT_TRUE(decoder.SetFormat(cap.Width(), cap.Height(), 4, 0));
  const std::string path = ::testing::TempDir() + "kmr_duplication_capture_" + std::to_string(getpid()) + ".kmr";
  StandaloneContainerWriter writer;
  writer.SetPath(path.c_str());
  ContainerVideoStream video;
  ASSERT_TRUE(video.Attach(source.Format()));
  video.SetWriter(&writer);
  writer.AddStream(&video);
  ASSERT_TRUE(writer.Open());
  const uint32_t fps = source.Format().fps;
  std::mt19937 rng(7);
  for (int frame = 0; frame < 40; ++frame) {
    for (ScriptedOutput& out : system->outputs) {
      platform::DuplicationFrame f;
      if (frame > 0) {
        // As the system tells a frame: its moves apply to the last frame in
        // their order, then the dirty rectangles hold the new pixels.
        const int moves = static_cast<int>(rng() % 3), fills = static_cast<int>(rng() % 3);
        for (int k = 0; k < moves + fills; ++k) {
          const int32_t w = 1 + static_cast<int32_t>(rng() % 40), h = 1 + static_cast<int32_t>(rng() % 30);
          const int32_t x = static_cast<int32_t>(rng() % (out.Width() - w));
          const int32_t y = static_cast<int32_t>(rng() % (out.Height() - h));
          if (k < moves) {
            const int32_t fx = static_cast<int32_t>(rng() % (out.Width() - w));
            const int32_t fy = static_cast<int32_t>(rng() % (out.Height() - h));
            Move(out, Rect{x, y, x + w, y + h}, fx, fy, &f);
          } else {
            Fill(out, Rect{x, y, x + w, y + h}, static_cast<uint32_t>(rng()) & 0x00FFFFFF, &f);
          }
        }
      }
      out.results.push_back(platform::OutputDuplication::Acquired::kFrame);
      out.frames.push_back(f);
    }
    ASSERT_TRUE(testing::CaptureAndCode(source, codec));
    ASSERT_TRUE(video.Put(MediaPacket{codec.PacketData(), codec.PacketLength(),
                                      FrameGrid::SlotTime(static_cast<uint32_t>(frame), fps), 1000 / fps,
                                      codec.IsKeyFrame(), static_cast<uint32_t>(frame)}));
    if (codec.PacketLength() != 0) {
      ASSERT_TRUE(decoder.Decode(codec.PacketData(), codec.PacketLength())) << decoder.Error();
    }
    // The virtual screen starts at (0, 0): the second output lies at (160, 16).
    for (int32_t y = cap.top; y < cap.bottom; ++y) {
      for (int32_t x = cap.left; x < cap.right; ++x) {
        uint32_t want = 0;  // below the first output and above the second: no screen
        for (const ScriptedOutput& out : system->outputs) {
          if (x >= out.place.left && x < out.place.right && y >= out.place.top && y < out.place.bottom) {
            want = out.screen[static_cast<size_t>(y - out.place.top) * out.Width() + (x - out.place.left)];
          }
        }
        uint32_t got;
        std::memcpy(&got, decoder.Picture().At(x - cap.left, y - cap.top), 4);
        ASSERT_EQ(got, want) << "frame " << frame << " at " << x << ", " << y;
      }
    }
  }
  source.Release();
  ASSERT_TRUE(writer.Close());

  std::string error;
  std::unique_ptr<RecordingFile> file = OpenRecordingFile(path, &error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_TRUE(CheckPlayable(file.get(), &error)) << error;
  RawVideoInfo info;
  std::vector<uint8_t> last;
  ASSERT_TRUE(ExportFrame(file.get(), kLastSlot, &info, &last, &error)) << error;
  ASSERT_EQ(info.width, cap.Width());
  for (int32_t y = 0; y < cap.Height(); ++y) {
    ASSERT_EQ(std::memcmp(&last[static_cast<size_t>(y) * cap.Width() * 4], decoder.Picture().At(0, y),
                          static_cast<size_t>(cap.Width()) * 4),
              0)
        << "row " << y;
  }
  file.reset();
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kmr
