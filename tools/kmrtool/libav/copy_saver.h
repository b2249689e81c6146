// The player's "Save a copy": a recording converted for sharing (MP4, as
// kmrtool convert makes it) on a thread of its own, while playback goes on;
// the interface thread reads how far it got and how it ended.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace kmr {

class CopySaver {
 public:
  enum class State { kIdle, kSaving, kSaved, kFailed };
  struct Status {
    State state = State::kIdle;
    double done = 0;     // 0..1 while saving
    std::string output;  // the copy's path
    std::string error;   // why it failed
  };

  CopySaver() = default;
  // A copy still being saved is cancelled (its file removed) first.
  ~CopySaver();
  CopySaver(const CopySaver&) = delete;
  CopySaver& operator=(const CopySaver&) = delete;

  // Where a copy of the recording is saved: beside it, named after it, as
  // MP4; a name that is taken gets " (2)", " (3)" … before the extension.
  static std::string CopyPathFor(const std::string& recording);
  // Starts saving the recording's copy at output; false while another is
  // being saved.
  bool Start(const std::string& recording, const std::string& output);
  Status Current() const;
  // Stops a copy being saved and waits for it (its file is removed).
  void Cancel();
  // The status line's words for the status, empty when idle.
  static std::string Describe(const Status& status);

 private:
  void Run(std::string recording, std::string output);

  std::thread thread_;
  mutable std::mutex mu_;
  Status status_;
  std::atomic<bool> cancel_{false};
};

}  // namespace kmr
