#include "recorder/codecs/compressing_stage.h"

namespace kmr {

void CompressingStage::Begin(VideoCompressor* compressor, PacketSink* stream) {
  compressor_ = compressor;
  stream_ = stream;
  next_slot_ = 0;
}

FrameTimebase CompressingStage::Timebase() const {
  if (compressor_ == nullptr) return FrameTimebase{0, 0, 0};
  return FrameTimebase::ScaleRate(compressor_->Scale(), compressor_->Rate());
}

bool CompressingStage::Put(const MediaPacket& raw) {
  if (compressor_ == nullptr || stream_ == nullptr || raw.slot < next_slot_) return false;
  const uint32_t skipped = raw.slot - next_slot_;  // slots this frame came too late for
  MediaPacket coded = raw;
  coded.data = nullptr;
  coded.size = 0;
  coded.key = false;
  if (raw.data == nullptr || raw.size == 0) {
    compressor_->PassSlots(skipped + 1);
  } else {
    compressor_->PassSlots(skipped);
    if (!compressor_->CompressFrame(raw.data, raw.size)) return false;
    coded.data = compressor_->CompressedData();
    coded.size = compressor_->CompressedSize();
    coded.key = compressor_->CompressedKeyFrame();
  }
  if (!stream_->Put(coded)) return false;
  next_slot_ = raw.slot + 1;
  return true;
}

}  // namespace kmr
