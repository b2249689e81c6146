// The frame grid of a video stream: rate / scale frames a second, slot n at
// n × scale × 1000 / rate ms (rounded), each slot lasting the timebase's
// duration. A frame taken at time T goes to the first slot not yet taken
// whose end is not before T; slots the source fell behind on are skipped.
// The screen video source keeps the one grid of a recording and hands every
// frame on at its slot.
#pragma once

#include <cstdint>

#include "recorder/outputs/media_stream.h"

namespace kmr {

struct FrameTimebase {
  uint32_t scale = 1;
  uint32_t rate = 15;
  uint32_t duration = 66;  // ms

  // The own codecs' grid: fps frames a second, slots 1000 / fps ms long
  // (integer division).
  static FrameTimebase Fps(uint32_t fps);
  // An installed compressor's: slots 1000 × scale / rate ms long (rounded).
  static FrameTimebase ScaleRate(uint32_t scale, uint32_t rate);
  bool Valid() const { return scale != 0 && rate != 0; }
  // Slot n's time, in ms.
  uint32_t SlotTime(uint32_t n) const;
};

class FrameGrid {
 public:
  void Reset() { n_ = 0; }
  // The slot for source time t (the grid's count moves to it); the timebase
  // must be valid.
  uint32_t SlotFor(const FrameTimebase& timebase, uint32_t t);
  void Advance() { ++n_; }
  // The place of a frame taken at time t (its time stamp, duration and slot;
  // no data), without moving the grid: the frame may yet not be handed on.
  MediaPacket Place(const FrameTimebase& timebase, uint32_t t) const;
  // The frame at place was handed on: the next one goes after it.
  void Take(const MediaPacket& place) { n_ = place.slot + 1; }
  // The number of the next slot to take.
  uint32_t Count() const { return n_; }
  // Slot n of the own codecs' grid at fps frames a second.
  static uint32_t SlotTime(uint32_t n, uint32_t fps) { return FrameTimebase::Fps(fps).SlotTime(n); }

 private:
  uint32_t n_ = 0;
};

}  // namespace kmr
