// Hands frames to a stream (or a coding stage) on a frame grid, as the
// screen video source does: each frame at the slot for its time. The frames
// are a source's, on the own codecs' grid at its rate, or raw ones (an
// installed compressor's input) on a stage's time line.
#pragma once

#include <cstdint>

#include "recorder/control/frame_grid.h"
#include "recorder/outputs/media_stream.h"
#include "recorder/outputs/video_source.h"

namespace kmr::testing {

class FramesOnGrid {
 public:
  FramesOnGrid(const EncodedVideoSource* source, PacketSink* stream) : source_(source), stream_(stream) {}
  FramesOnGrid(PacketSink* stage, const FrameTimebase& timebase) : stream_(stage), timebase_(timebase) {}
  // The source's frame just encoded, at the slot for time t; the grid
  // moves on only when the stream takes it.
  bool Put(uint32_t t) {
    const MediaPacket place = grid_.Place(FrameTimebase::Fps(source_->Fps()), t);
    return Hand(EncodedFrame(*source_, place.time_stamp, place.duration, place.slot));
  }
  // A raw frame (none: nothing changed) at the slot for time t.
  bool PutRaw(const void* data, uint32_t size, uint32_t t) {
    MediaPacket p = grid_.Place(timebase_, t);
    p.data = data;
    p.size = size;
    return Hand(p);
  }
  uint32_t Count() const { return grid_.Count(); }

 private:
  bool Hand(const MediaPacket& p) {
    if (!stream_->Put(p)) return false;
    grid_.Take(p);
    return true;
  }

  const EncodedVideoSource* source_ = nullptr;
  PacketSink* stream_;
  FrameTimebase timebase_;
  FrameGrid grid_;
};

}  // namespace kmr::testing
