#include "recorder/audio/sound_placer.h"

#include <algorithm>
#include <cmath>

#include "shared/mul_div.h"

namespace kmr {

SoundPlacer::SoundPlacer(const PcmFormat& format, uint32_t block_bytes)
    : format_(format),
      block_bytes_(block_bytes),
      frame_bytes_(std::max<uint32_t>(format.BlockAlign(), 1)),
      frames_per_ms_(format.samples_per_second / 1000.0) {
  pending_.reserve(block_bytes_);
}

uint32_t BlockTimeMs(const PcmFormat& format, uint32_t block_bytes, uint64_t n) {
  const uint64_t bps = format.BytesPerSecond();
  if (bps == 0) return 0;
  return RoundedDiv(static_cast<uint64_t>(block_bytes) * 1000 * n, bps);
}

uint32_t SoundPlacer::TimeOfBlock(uint64_t n) const { return BlockTimeMs(format_, block_bytes_, n); }

void SoundPlacer::Add(const uint8_t* data, uint32_t size, uint32_t arrival_clock_ms,
                      const RecordingTimeline::View& view, std::vector<Block>* out) {
  const uint32_t frames = size / frame_bytes_;
  if (frames == 0 || frames_per_ms_ <= 0) return;
  if (!have_reference_) {
    have_reference_ = true;
    reference_clock_ms_ = arrival_clock_ms;
  }
  // The device's clock against the recording clock: the buffer's last
  // sample was taken at the latest when it arrived.
  const double arrival = static_cast<int32_t>(arrival_clock_ms - reference_clock_ms_);
  const double first_by_count = static_cast<double>(captured_) / frames_per_ms_;
  const double end_by_count = static_cast<double>(captured_ + frames) / frames_per_ms_;
  fits_.push_back(arrival - end_by_count);
  if (fits_.size() > kFitBuffers) fits_.pop_front();
  const double fit = *std::min_element(fits_.begin(), fits_.end());
  captured_ += frames;
  // Times since the recording's start of the buffer's first sample.
  const double start_since_reference = static_cast<int32_t>(view.start_clock_ms - reference_clock_ms_);
  const double first_ms = fit + first_by_count - start_since_reference;
  const double ms_per_frame = 1.0 / frames_per_ms_;

  bool checked = false;
  uint32_t run_from = 0, run_length = 0;
  const auto flush_run = [&] {
    if (run_length != 0) Keep(data + static_cast<size_t>(run_from) * frame_bytes_, run_length, out);
    run_length = 0;
  };
  for (uint32_t i = 0; i < frames; ++i) {
    double at = 0;
    if (!view.Place(first_ms + i * ms_per_frame, &at)) {
      flush_run();
      ++cut_;
      continue;
    }
    if (!begun_) {
      begun_ = true;
      start_ms_ = at <= kLateStartMs ? 0 : static_cast<uint32_t>(at);
      const auto lead = static_cast<uint64_t>(std::llround((at - start_ms_) * frames_per_ms_));
      Silence(lead, out);
      checked = true;
    }
    if (!checked) {
      // Once a buffer: where this sample lies against where the count puts
      // it (+: the sound is behind its place). The decision takes the median
      // of the last few, so that one late fit moves nothing.
      checked = true;
      const double place = start_ms_ + static_cast<double>(stream_frames_) / frames_per_ms_;
      offsets_.push_back(at - place);
      if (offsets_.size() > kOffsetBuffers) offsets_.pop_front();
      std::vector<double> sorted(offsets_.begin(), offsets_.end());
      std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
      offset_ms_ = sorted[sorted.size() / 2];
      if (std::fabs(offset_ms_) > kToleranceMs) {
        const double step = std::min(std::fabs(offset_ms_) - kToleranceMs / 2, kStepMs);
        const auto n = static_cast<uint64_t>(std::llround(step * frames_per_ms_));
        double moved = 0;
        uint32_t skip = 0;
        if (offset_ms_ > 0) {
          Silence(n, out);
          inserted_ += n;
          moved = static_cast<double>(n) / frames_per_ms_;
        } else {
          skip = static_cast<uint32_t>(std::min<uint64_t>(n, frames - i));
          dropped_ += skip;
          moved = -static_cast<double>(skip) / frames_per_ms_;
        }
        for (double& o : offsets_) o -= moved;
        offset_ms_ -= moved;
        if (skip != 0) {
          i += skip - 1;
          continue;
        }
      }
    }
    if (run_length == 0) run_from = i;
    ++run_length;
  }
  flush_run();
}

void SoundPlacer::Keep(const uint8_t* frame, uint32_t count, std::vector<Block>* out) {
  size_t bytes = static_cast<size_t>(count) * frame_bytes_;
  stream_frames_ += count;
  while (bytes != 0) {
    const size_t n = std::min(bytes, block_bytes_ - pending_.size());
    pending_.insert(pending_.end(), frame, frame + n);
    frame += n;
    bytes -= n;
    if (pending_.size() == block_bytes_) Emit(out);
  }
}

void SoundPlacer::Silence(uint64_t frames, std::vector<Block>* out) {
  stream_frames_ += frames;
  uint64_t bytes = frames * frame_bytes_;
  while (bytes != 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, block_bytes_ - pending_.size()));
    pending_.insert(pending_.end(), n, 0);
    bytes -= n;
    if (pending_.size() == block_bytes_) Emit(out);
  }
}

void SoundPlacer::Emit(std::vector<Block>* out) {
  Block b;
  b.pcm.swap(pending_);
  b.time_ms = start_ms_ + TimeOfBlock(blocks_);
  b.duration_ms = TimeOfBlock(blocks_ + 1) - TimeOfBlock(blocks_);
  ++blocks_;
  out->push_back(std::move(b));
  pending_.clear();
  pending_.reserve(block_bytes_);
}

void SoundPlacer::Finish(std::vector<Block>* out, double end_ms) {
  // The pending samples lie just before the sound's end on the time line.
  const uint64_t pending_frames = pending_.size() / frame_bytes_;
  const double pending_from = start_ms_ + static_cast<double>(stream_frames_ - pending_frames) / frames_per_ms_;
  if (end_ms < pending_from + static_cast<double>(pending_frames) / frames_per_ms_) {
    const double keep = std::max(0.0, end_ms - pending_from) * frames_per_ms_;
    pending_.resize(std::min<size_t>(pending_.size(), static_cast<size_t>(keep) * frame_bytes_));
  }
  if (pending_.empty()) return;
  pending_.resize(block_bytes_, 0);
  Emit(out);
}

}  // namespace kmr
