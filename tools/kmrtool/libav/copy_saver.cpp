#include "tools/kmrtool/libav/copy_saver.h"

#include <cstdio>
#include <filesystem>

#include "player/recording_file.h"
#include "tools/kmrtool/libav/convert.h"

namespace kmr {

CopySaver::~CopySaver() { Cancel(); }

std::string CopySaver::CopyPathFor(const std::string& recording) {
  namespace fs = std::filesystem;
  const fs::path source(recording);
  const fs::path folder = source.parent_path();
  const std::string stem = source.stem().string().empty() ? "recording" : source.stem().string();
  std::error_code ec;
  fs::path candidate = folder / (stem + ".mp4");
  for (int n = 2; fs::exists(candidate, ec) && n < 10000; ++n) {
    candidate = folder / (stem + " (" + std::to_string(n) + ").mp4");
  }
  return candidate.string();
}

bool CopySaver::Start(const std::string& recording, const std::string& output) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (status_.state == State::kSaving) return false;
    status_ = Status{State::kSaving, 0, output, {}};
  }
  if (thread_.joinable()) thread_.join();  // the last copy's thread has ended
  cancel_ = false;
  thread_ = std::thread(&CopySaver::Run, this, recording, output);
  return true;
}

void CopySaver::Run(std::string recording, std::string output) {
  std::string error;
  bool ok = false;
  // A reader of its own: the player's goes on playing.
  const std::unique_ptr<RecordingFile> file = OpenRecordingFile(recording, &error);
  if (file != nullptr) {
    ConvertOptions options;
    options.progress = [this](double done) {
      std::lock_guard<std::mutex> lock(mu_);
      status_.done = done;
    };
    options.cancelled = [this] { return cancel_.load(); };
    ok = ConvertRecording(file.get(), output, options, &error);
  }
  std::lock_guard<std::mutex> lock(mu_);
  status_.state = ok ? State::kSaved : State::kFailed;
  status_.error = error;
}

CopySaver::Status CopySaver::Current() const {
  std::lock_guard<std::mutex> lock(mu_);
  return status_;
}

void CopySaver::Cancel() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string CopySaver::Describe(const Status& s) {
  const std::string name = std::filesystem::path(s.output).filename().string();
  char percent[16];
  std::snprintf(percent, sizeof(percent), "%.0f%%", s.done * 100);
  switch (s.state) {
    case State::kIdle:
      return "";
    case State::kSaving:
      return "Saving a copy as " + name + ": " + percent;
    case State::kSaved:
      return "Saved a copy as " + s.output;
    case State::kFailed:
      return "The copy was not saved: " + s.error;
  }
  return "";
}

}  // namespace kmr
