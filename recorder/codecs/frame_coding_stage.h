// The own codecs' coding stage, between the capture and the video stream (or
// an installed compressor's stage, which takes the raw changed area that
// ChangedAreaEncoder makes): each captured frame is coded by the recording's
// encoder and handed on as a packet at the place the source gave it.
#pragma once

#include <cstdint>

#include "recorder/codecs/frame_encoder.h"
#include "recorder/outputs/media_stream.h"

namespace kmr {

class FrameCodingStage {
 public:
  enum class Result { kHandedOn, kCodingFailed, kNotHandedOn };

  // At the start of each recording, before the first frame. The encoder was
  // started by the capture, which made the frames in the format it takes.
  void Begin(FrameEncoder* encoder, PacketSink* next) {
    encoder_ = encoder;
    next_ = next;
  }
  // Codes the frame and hands the packet on with place's time stamp,
  // duration and slot (no data when nothing changed).
  Result Put(const EncoderInput& frame, const MediaPacket& place) {
    if (encoder_ == nullptr || next_ == nullptr || !encoder_->Encode(frame)) return Result::kCodingFailed;
    MediaPacket packet = place;
    packet.size = encoder_->PacketLength();
    packet.data = packet.size != 0 ? encoder_->PacketData() : nullptr;
    packet.key = encoder_->IsKeyFrame();
    return next_->Put(packet) ? Result::kHandedOn : Result::kNotHandedOn;
  }
  MediaWriter* GetWriter() const { return next_ != nullptr ? next_->GetWriter() : nullptr; }

 private:
  FrameEncoder* encoder_ = nullptr;
  PacketSink* next_ = nullptr;
};

}  // namespace kmr
