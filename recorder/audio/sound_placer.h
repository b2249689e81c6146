// Puts captured sound on the recording's time line. Each sample's capture
// time comes from its place in the device's stream and a fit of the
// device's clock to the recording clock (the earliest arrival of recent
// buffers, against what their sample counts say: a buffer never arrives
// before its last sample was taken, and late arrivals are only late). The
// samples taken before the start or during a pause are left out, exactly
// where the start, the pause or the resume lies; the rest are cut into the
// encoder's blocks, stamped by their count. A device whose clock runs fast
// or slow drifts from that count: once the drift passes a tolerance,
// samples are dropped or silence is put in, a little at each buffer.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "recorder/audio/capture_device.h"
#include "recorder/control/recording_timeline.h"

namespace kmr {

// Where block n of block_bytes-byte blocks begins, in ms from the sound's
// start (rounded).
uint32_t BlockTimeMs(const PcmFormat& format, uint32_t block_bytes, uint64_t n);

class SoundPlacer {
 public:
  struct Block {
    std::vector<uint8_t> pcm;
    uint32_t time_ms = 0;
    uint32_t duration_ms = 0;
  };
  // The sound begins in silence when its first sample came at most this
  // long after the start; a device that began later starts the sound there.
  static constexpr double kLateStartMs = 500;
  // How far the sound may lie from its place before it is moved, and by how
  // much at most per buffer.
  static constexpr double kToleranceMs = 10;
  static constexpr double kStepMs = 2;
  // Buffers whose arrivals fit the device's clock, and whose offsets make
  // the decision to move the sound.
  static constexpr size_t kFitBuffers = 16;
  static constexpr size_t kOffsetBuffers = 15;

  SoundPlacer(const PcmFormat& format, uint32_t block_bytes);

  // A buffer that arrived at arrival_clock_ms on the recording clock, with
  // the time line as it was then; the blocks it completes go to out.
  void Add(const uint8_t* data, uint32_t size, uint32_t arrival_clock_ms, const RecordingTimeline::View& view,
           std::vector<Block>* out);
  // The last samples, up to end_ms on the time line (the recording's end:
  // the picture ends there), made a whole block with silence.
  void Finish(std::vector<Block>* out, double end_ms = 1e300);

  // Milliseconds from the start to block n of the sound.
  uint32_t TimeOfBlock(uint64_t n) const;
  bool Begun() const { return begun_; }
  // Sample frames in the sound so far, silence put in included.
  uint64_t StreamFrames() const { return stream_frames_; }
  // Where the sound begins on the time line (0 unless the device began late).
  uint32_t StartMs() const { return start_ms_; }
  // Sample frames left out as taken before the start or during pauses,
  // dropped for a fast clock, and of silence put in for a slow one.
  uint64_t FramesCut() const { return cut_; }
  uint64_t FramesDropped() const { return dropped_; }
  uint64_t FramesInserted() const { return inserted_; }
  // How far the sound lies from its place (ms, + late: the median of the
  // last buffers), after any correction.
  double OffsetMs() const { return offset_ms_; }

 private:
  void Keep(const uint8_t* frame, uint32_t count, std::vector<Block>* out);
  void Silence(uint64_t frames, std::vector<Block>* out);
  void Emit(std::vector<Block>* out);

  PcmFormat format_;
  uint32_t block_bytes_;
  uint32_t frame_bytes_;
  double frames_per_ms_;
  bool have_reference_ = false;
  uint32_t reference_clock_ms_ = 0;  // the first arrival: the fit's time 0
  uint64_t captured_ = 0;            // frames the device delivered so far
  std::deque<double> fits_;          // arrival less the end its count gives
  std::deque<double> offsets_;
  bool begun_ = false;
  uint32_t start_ms_ = 0;
  uint64_t stream_frames_ = 0;  // frames in the sound so far, silence included
  uint64_t blocks_ = 0;
  std::vector<uint8_t> pending_;
  uint64_t cut_ = 0, dropped_ = 0, inserted_ = 0;
  double offset_ms_ = 0;
};

}  // namespace kmr
