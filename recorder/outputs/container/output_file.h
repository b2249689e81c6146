// The file a writer writes its recording into. Every write, flush and close
// is checked; the first failure's cause is kept for the user's message. The
// position counts only bytes that were written whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kmr {

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // All size bytes or a failure.
  virtual bool Write(const void* data, size_t size) = 0;
  // Hands what is buffered to the operating system.
  virtual bool Flush() = 0;
  // Cuts the file back to size bytes (after a torn write).
  virtual bool Truncate(uint64_t size) = 0;
  // Flushes and closes; later calls fail.
  virtual bool Close() = 0;
  virtual bool IsOpen() const = 0;
  // Bytes in the file: where the next write lands.
  virtual uint64_t Position() const = 0;

  // Marks the end of a whole record: after a failure the file is cut back to
  // a mark, never into the middle of a record.
  void MarkRecordEnd() {
    if (!record_ends_.empty() && record_ends_.back() == Position()) return;
    if (record_ends_.size() == kMarksKept) record_ends_.erase(record_ends_.begin());
    record_ends_.push_back(Position());
  }
  uint64_t RecordEnd() const { return record_ends_.empty() ? 0 : record_ends_.back(); }
  // The last few marks, oldest first.
  const std::vector<uint64_t>& RecordEnds() const { return record_ends_; }
  static constexpr size_t kMarksKept = 8;

  // The first failure's cause (a sentence), empty while none happened.
  const std::string& Error() const { return error_; }
  bool Failed() const { return !error_.empty(); }
  // Keeps the first cause only.
  void NoteError(const std::string& cause) {
    if (error_.empty()) error_ = cause.empty() ? "An unknown error occurred while writing." : cause;
  }

 private:
  std::string error_;
  std::vector<uint64_t> record_ends_;
};

// A C stream file with a buffer of its own in front of an unbuffered stream,
// so that after a failure exactly what reached the file is known and nothing
// stale is left in a library buffer to be written later.
class StdioOutputFile : public OutputFile {
 public:
  // mode: "wb" (create or replace) or "ab" (append at the end). Null with
  // *error set to the cause when the file cannot be opened.
  static std::unique_ptr<StdioOutputFile> Open(const std::string& path, const char* mode, std::string* error);
  ~StdioOutputFile() override;

  bool Write(const void* data, size_t size) override;
  bool Flush() override;
  bool Truncate(uint64_t size) override;
  bool Close() override;
  bool IsOpen() const override { return file_ != nullptr; }
  uint64_t Position() const override { return on_disk_ + buffer_.size(); }

  static constexpr size_t kBufferBytes = 65536;

 private:
  StdioOutputFile(FILE* file, uint64_t on_disk);
  bool FailWith(int error_number);
  // Writes the buffer out; on a short write what did reach the file counts.
  bool Drain();

  FILE* file_;
  uint64_t on_disk_;
  std::vector<uint8_t> buffer_;
};

}  // namespace kmr
