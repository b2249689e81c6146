// Seeks away from the interface's thread. A seek decodes from the key frame
// before its target up to the target (up to a whole key interval of
// video), which must not hold the window still: Request hands the target
// to a thread of its own and returns at once. While a seek runs, newer
// requests replace the one waiting, so a drag along the seek bar shows the
// places the seeks can keep up with and always ends at the last one.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/sync/sync.h"

namespace kmr {

class BackgroundSeek {
 public:
  // seek runs on the seek thread and says whether it reached the target;
  // done follows each seek there too (a frame posts itself a message).
  BackgroundSeek(std::function<bool(uint32_t)> seek, std::function<void(uint32_t, bool)> done);
  ~BackgroundSeek();
  BackgroundSeek(const BackgroundSeek&) = delete;
  BackgroundSeek& operator=(const BackgroundSeek&) = delete;

  // False only when the seek thread cannot be made (the seek then runs here).
  bool Request(uint32_t ms);
  // A seek running or waiting.
  bool Busy();
  // Returns once no seek runs or waits (before the reader is given other
  // commands, and at the end).
  void WaitIdle();

 private:
  void Run();

  std::function<bool(uint32_t)> seek_;
  std::function<void(uint32_t, bool)> done_;
  platform::Mutex mu_;
  platform::Event wake_{false};
  platform::Event idle_{true};
  platform::Thread thread_;
  bool started_ = false;
  bool quit_ = false;
  bool pending_ = false;
  bool running_ = false;
  uint32_t target_ = 0;
};

}  // namespace kmr
