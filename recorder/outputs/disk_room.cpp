#include "recorder/outputs/disk_room.h"

#include "platform/system/system.h"

namespace kmr {

namespace {

class SystemDiskSpace : public DiskSpace {
 public:
  explicit SystemDiskSpace(std::string path) : path_(std::move(path)) {}
  bool Free(uint64_t* bytes) override { return platform::FreeDiskSpace(path_, bytes); }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<DiskSpace> MakeDiskSpaceOf(const std::string& path) {
  return std::make_unique<SystemDiskSpace>(path);
}

bool DiskRoomKeeper::Admit(uint32_t time_ms) {
  if (ran_out_) return false;
  ++samples_;
  // Samples of the streams come slightly out of time order; one earlier than
  // the last look needs no new look.
  if (!looks_.empty() && (time_ms < looks_.back().first || time_ms - looks_.back().first < kLookEveryMs)) {
    return true;
  }
  uint64_t free = 0;
  if (space_ == nullptr || !space_->Free(&free)) return true;
  looks_.emplace_back(time_ms, free);
  while (looks_.size() > 1 && looks_.front().first + kRateWindowMs < time_ms) looks_.pop_front();
  const uint64_t taken = looks_.front().second > free ? looks_.front().second - free : 0;
  needed_ = kBaseRoom + kRoomPerSample * samples_ + 2 * taken;
  if (free >= needed_) return true;
  ran_out_ = true;
  return false;
}

}  // namespace kmr
