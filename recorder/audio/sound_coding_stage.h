// The sound's coding stage, in front of the audio stream: each whole PCM
// block is coded by the encoder and its coded bytes go on to the stream at
// the block's time stamp. A block the encoder refuses is not handed on.
#pragma once

#include "recorder/outputs/block_encoder.h"
#include "recorder/outputs/media_stream.h"

namespace kmr {

class SoundCodingStage : public PacketSink {
 public:
  SoundCodingStage(BlockEncoder* encoder, PacketSink* stream) : encoder_(encoder), stream_(stream) {}

  bool Put(const MediaPacket& pcm) override {
    if (pcm.data == nullptr || !encoder_->EncodeBlock(pcm.data)) return false;
    MediaPacket coded;
    coded.data = encoder_->Output();
    coded.size = encoder_->OutputBytes();
    coded.time_stamp = pcm.time_stamp;
    coded.duration = pcm.duration;
    return stream_->Put(coded);
  }
  MediaWriter* GetWriter() const override { return stream_->GetWriter(); }

 private:
  BlockEncoder* encoder_;
  PacketSink* stream_;
};

}  // namespace kmr
