#include "recorder/engine/video_compressor.h"

namespace kmr {

namespace {

uint32_t RoundedDiv(uint64_t a, uint64_t b) {
  const uint64_t q = (a + b / 2) / b;
  return q > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(q);
}

}  // namespace

bool SubmitCompressedFrame(MediaStream* stream, VideoCompressor* compressor, CompressedFrameGrid* grid,
                           const void* data, uint32_t size, uint32_t time_stamp, uint32_t key_flag, uint32_t* slot) {
  if (compressor == nullptr) return false;
  CompressedFrameGrid next = *grid;
  uint32_t duration = 0;
  if (!next.SlotFor(compressor->Scale(), compressor->Rate(), time_stamp, slot, &duration)) return false;
  const uint32_t skipped = next.Count() - grid->Count();  // slots this frame came too late for
  // Nothing changed: no frame is coded and the slot stays empty (the
  // previous frame goes on showing).
  if (data == nullptr || size == 0) {
    compressor->PassSlots(skipped + 1);
  } else {
    compressor->PassSlots(skipped);
    if (!compressor->CompressFrame(data, size)) return false;
    if (!stream->MediaStream::Submit(compressor->CompressedData(), compressor->CompressedSize(), *slot, duration,
                                     compressor->CompressedKeyFrame() ? key_flag : 0)) {
      return false;
    }
  }
  next.Advance();
  *grid = next;
  return true;
}

bool CompressedFrameGrid::SlotFor(uint32_t scale, uint32_t rate, uint32_t t, uint32_t* slot, uint32_t* duration) {
  if (scale == 0 || rate == 0) return false;
  const uint32_t d = RoundedDiv(1000ull * scale, rate);
  const auto at = [&](uint32_t n) { return RoundedDiv(static_cast<uint64_t>(n) * scale * 1000, rate); };
  while (static_cast<uint64_t>(d) + at(n_) < t) ++n_;
  *slot = at(n_);
  *duration = d;
  return true;
}

}  // namespace kmr
