// Room on the output's disk for the end of a file. An AVI or Windows Media
// file is finished when the recording ends: the index of every sample, the
// header's counts and what the library still buffers (up to a second of
// recording) go out then. A recording that ran the disk full would leave a
// file with none of them, so the writer stops the recording as a full disk
// does while the disk still holds what the end needs, and then finishes the
// file.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

namespace kmr {

class DiskSpace {
 public:
  virtual ~DiskSpace() = default;
  // The bytes the disk can still take; false when that is not known.
  virtual bool Free(uint64_t* bytes) = 0;
};

// The system's figure for the disk holding path.
std::unique_ptr<DiskSpace> MakeDiskSpaceOf(const std::string& path);

class DiskRoomKeeper {
 public:
  // What every end needs at least, and per sample written (an AVI index
  // entry is 16 bytes; twice that covers the other formats' indexes).
  static constexpr uint64_t kBaseRoom = 1u << 20;
  static constexpr uint64_t kRoomPerSample = 32;
  // The disk is looked at every quarter second of recording; the end also
  // needs twice what the last two seconds took (the library's buffers, and
  // what comes before the next look).
  static constexpr uint32_t kLookEveryMs = 250;
  static constexpr uint32_t kRateWindowMs = 2000;

  explicit DiskRoomKeeper(std::unique_ptr<DiskSpace> space) : space_(std::move(space)) {}

  // Before each sample, with its time in the recording: false once the disk
  // has less room than the end needs, and from then on. A disk whose room
  // is not known admits every sample.
  bool Admit(uint32_t time_ms);
  bool RanOut() const { return ran_out_; }
  // The room the end needed at the last look.
  uint64_t Needed() const { return needed_; }

 private:
  std::unique_ptr<DiskSpace> space_;
  std::deque<std::pair<uint32_t, uint64_t>> looks_;  // (time, free bytes)
  uint64_t samples_ = 0;
  uint64_t needed_ = kBaseRoom;
  bool ran_out_ = false;
};

}  // namespace kmr
