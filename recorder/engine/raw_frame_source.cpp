#include "recorder/engine/raw_frame_source.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "recorder/engine/media_writer.h"
#include "shared/pixel/convert.h"

namespace kmr {

RawFrameSource::RawFrameSource(platform::MsClock* clock, std::unique_ptr<platform::FrameTimer> timer)
    : clock_(clock), timer_(std::move(timer)) {
  header_.bit_count = 32;
  header_.compression = 0;
}

RawFrameSource::~RawFrameSource() { Stop(); }

void RawFrameSource::SetWidth(int32_t w) {
  abs_width_ = std::abs(w);
  header_.width = std::abs(w + (w % 2));
  UpdateSize();
}

void RawFrameSource::SetHeight(int32_t h) {
  abs_height_ = std::abs(h);
  header_.height = std::abs(h + (h % 2));  // positive: bottom-up
  UpdateSize();
}

void RawFrameSource::UpdateSize() {
  stride_ = (32u * static_cast<uint32_t>(header_.width) / 8u + 3u) & ~3u;
  header_.size_image = static_cast<uint32_t>(header_.height) * stride_;
}

bool RawFrameSource::SetOutput(MediaStream* stream) {
  if (stream == nullptr) return false;
  output_ = stream;
  return true;
}

bool RawFrameSource::OnStart() {
  if (!timer_ || output_ == nullptr) return false;
  try {
    image_.assign(header_.size_image, 0);
  } catch (...) {
    return false;
  }
  if (!timer_->Reset()) return false;
  pacer_.Reset();
  frame_clock_.Start(clock_->NowMs());
  return true;
}

const uint8_t* RawFrameSource::GrabFrame() {
  if (source_ == nullptr) return nullptr;
  source_->Capture();
  if (!source_->Encode()) return nullptr;
  const PlaneView& f = source_->Frame();
  if (!f.IsValid() || image_.size() < header_.size_image) return nullptr;
  const Rect r = source_->CaptureRect();
  // The own image is bottom-up: the rectangle's top row becomes its last row
  // in memory. (The capture's rows are top-down, so they are never handed on
  // in place: the compressor would see the picture upside down.)
  const int32_t w = std::min(f.width - r.left, header_.width);
  const int32_t h = std::min(f.height - r.top, header_.height);
  if (w <= 0 || h <= 0) return image_.data();
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* dst = image_.data() + static_cast<size_t>(header_.height - 1 - y) * stride_;
    const uint8_t* src = f.At(r.left, r.top + y);
    switch (f.bytes_per_pixel) {
      case 2:
        Convert565To32(dst, stride_, src, f.stride, w, 1);
        break;
      case 3:
        Convert24To32(dst, stride_, src, f.stride, w, 1);
        break;
      default:
        std::memcpy(dst, src, static_cast<size_t>(w) * f.bytes_per_pixel);
    }
  }
  return image_.data();
}

bool RawFrameSource::Step() {
  const uint32_t stamp = frame_clock_.Advance(clock_->NowMs(), IsResumed());
  MediaWriter* writer = output_->GetWriter();
  if (!IsPaused() && writer != nullptr && writer->IsRunning()) {
    const uint8_t* picture = GrabFrame();
    if (picture == nullptr) return false;
    MediaPacket frame;
    frame.data = picture;
    frame.size = header_.size_image;
    frame.time_stamp = stamp;
    frame.duration = FramePeriodMs(fps_);
    if (!output_->Put(frame)) return false;
  }
  timer_->Wait(pacer_.WaitLimit(fps_));
  return timer_->ArmRelative(pacer_.ArmFor(frame_clock_.Peek(clock_->NowMs()), fps_));
}

}  // namespace kmr
