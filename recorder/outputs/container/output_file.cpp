#include "recorder/outputs/container/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/system/system.h"

namespace kmr {

std::unique_ptr<StdioOutputFile> StdioOutputFile::Open(const std::string& path, const char* mode, std::string* error) {
  errno = 0;
  FILE* f = std::fopen(path.c_str(), mode);
  if (f == nullptr) {
    if (error != nullptr) *error = platform::ErrnoText(errno != 0 ? errno : EIO);
    return nullptr;
  }
  long end = 0;
  if (std::setvbuf(f, nullptr, _IONBF, 0) != 0 || std::fseek(f, 0, SEEK_END) != 0 || (end = std::ftell(f)) < 0) {
    if (error != nullptr) *error = platform::ErrnoText(errno != 0 ? errno : EIO);
    std::fclose(f);
    return nullptr;
  }
  auto file = std::unique_ptr<StdioOutputFile>(new StdioOutputFile(f, static_cast<uint64_t>(end)));
  file->MarkRecordEnd();
  return file;
}

StdioOutputFile::StdioOutputFile(FILE* file, uint64_t on_disk) : file_(file), on_disk_(on_disk) {
  buffer_.reserve(kBufferBytes);
}

StdioOutputFile::~StdioOutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool StdioOutputFile::FailWith(int e) {
  NoteError(platform::ErrnoText(e != 0 ? e : EIO));
  return false;
}

bool StdioOutputFile::Drain() {
  if (buffer_.empty()) return true;
  errno = 0;
  size_t n = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  const int e = errno;
  if (n < buffer_.size()) {
    // The C library of Windows reports nothing written when a write stops
    // part way (a full disk) though the bytes before the stop are in the
    // file: its end says how far the write got.
    std::clearerr(file_);
    long end = -1;
    if (std::fseek(file_, 0, SEEK_END) == 0 && (end = std::ftell(file_)) >= 0 &&
        static_cast<uint64_t>(end) > on_disk_ + n) {
      n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(end) - on_disk_, buffer_.size()));
    }
  }
  on_disk_ += n;
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  if (!buffer_.empty()) {
    std::clearerr(file_);
    return FailWith(e);
  }
  return true;
}

bool StdioOutputFile::Write(const void* data, size_t size) {
  if (file_ == nullptr) return FailWith(EBADF);
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size != 0) {
    const size_t room = kBufferBytes - buffer_.size();
    const size_t n = size < room ? size : room;
    buffer_.insert(buffer_.end(), bytes, bytes + n);
    bytes += n;
    size -= n;
    if (buffer_.size() == kBufferBytes && !Drain()) return false;
  }
  return true;
}

bool StdioOutputFile::Flush() {
  if (file_ == nullptr) return FailWith(EBADF);
  return Drain();
}

bool StdioOutputFile::Truncate(uint64_t size) {
  if (file_ == nullptr) return FailWith(EBADF);
  if (size >= on_disk_) {
    // Only buffered bytes go.
    const uint64_t keep = size - on_disk_;
    if (keep < buffer_.size()) buffer_.resize(static_cast<size_t>(keep));
    return true;
  }
  buffer_.clear();
  std::clearerr(file_);
  if (!platform::TruncateOpenFile(file_, size) || std::fseek(file_, 0, SEEK_END) != 0) return false;
  on_disk_ = size;
  return true;
}

bool StdioOutputFile::Close() {
  if (file_ == nullptr) return FailWith(EBADF);
  const bool drained = Drain();
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  const int close_error = errno;
  file_ = nullptr;
  if (drained && !closed) FailWith(close_error);
  return !Failed();
}

}  // namespace kmr
