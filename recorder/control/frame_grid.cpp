#include "recorder/control/frame_grid.h"

#include "shared/mul_div.h"

namespace kmr {

FrameTimebase FrameTimebase::Fps(uint32_t fps) {
  if (fps == 0) fps = 1;
  return FrameTimebase{1, fps, 1000 / fps};
}

FrameTimebase FrameTimebase::ScaleRate(uint32_t scale, uint32_t rate) {
  FrameTimebase t{scale, rate, 0};
  if (t.Valid()) t.duration = RoundedDiv(1000ull * scale, rate);
  return t;
}

uint32_t FrameTimebase::SlotTime(uint32_t n) const {
  if (!Valid()) return 0;
  return RoundedDiv(static_cast<uint64_t>(n) * scale * 1000, rate);
}

MediaPacket FrameGrid::Place(const FrameTimebase& timebase, uint32_t t) const {
  FrameGrid next = *this;
  MediaPacket place;
  place.time_stamp = next.SlotFor(timebase, t);
  place.duration = timebase.duration;
  place.slot = next.Count();
  return place;
}

uint32_t FrameGrid::SlotFor(const FrameTimebase& timebase, uint32_t t) {
  if (!timebase.Valid()) return 0;
  while (static_cast<uint64_t>(timebase.SlotTime(n_)) + timebase.duration < t) ++n_;
  return timebase.SlotTime(n_);
}

}  // namespace kmr
