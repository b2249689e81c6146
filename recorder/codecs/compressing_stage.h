// The coding stage of an installed compressor, in front of the video stream:
// each raw frame (the changed area, 32 bits, bottom-up) is compressed and
// handed on at the slot the source gave it. A frame without data (nothing
// changed) is not compressed and leaves its slot empty. The compressor is
// told of every slot that went by without a frame, so that its key frames
// are due by recording time.
#pragma once

#include <cstdint>

#include "recorder/codecs/video_compressor.h"
#include "recorder/control/frame_grid.h"
#include "recorder/outputs/media_stream.h"

namespace kmr {

class CompressingStage : public PacketSink {
 public:
  // At the start of each recording, before the first frame.
  void Begin(VideoCompressor* compressor, PacketSink* stream);
  // The compressor's time line, for the source's frame grid.
  FrameTimebase Timebase() const;
  bool Put(const MediaPacket& raw) override;
  MediaWriter* GetWriter() const override { return stream_ != nullptr ? stream_->GetWriter() : nullptr; }

 private:
  VideoCompressor* compressor_ = nullptr;
  PacketSink* stream_ = nullptr;
  uint32_t next_slot_ = 0;
};

}  // namespace kmr
