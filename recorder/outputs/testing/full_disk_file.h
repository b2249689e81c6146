// An output file on a disk that holds only so many bytes: a write that does
// not fit puts in what fits and fails, as a full disk does. Cutting the file
// back frees the room again.
#pragma once

#include <memory>
#include <string>

#include "recorder/outputs/container/container_writer.h"
#include "recorder/outputs/container/executable_writer.h"
#include "recorder/outputs/container/output_file.h"

namespace kmr::testing {

class FullDiskFile : public OutputFile {
 public:
  FullDiskFile(std::unique_ptr<OutputFile> inner, uint64_t capacity) : inner_(std::move(inner)), capacity_(capacity) {
    MarkRecordEnd();
  }
  bool Write(const void* data, size_t size) override {
    const uint64_t room = capacity_ > inner_->Position() ? capacity_ - inner_->Position() : 0;
    if (size <= room) return Check(inner_->Write(data, size));
    inner_->Write(data, static_cast<size_t>(room));
    NoteError("There is no space left on the disk.");
    return false;
  }
  bool Flush() override { return Check(inner_->Flush()); }
  bool Truncate(uint64_t size) override { return Check(inner_->Truncate(size)); }
  bool Close() override { return Check(inner_->Close()) && !Failed(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  uint64_t Position() const override { return inner_->Position(); }

 private:
  bool Check(bool ok) {
    if (!ok) NoteError(inner_->Error());
    return ok;
  }
  std::unique_ptr<OutputFile> inner_;
  uint64_t capacity_;
};

// An executable writer whose output disk fills at capacity bytes (the whole
// file, player copy included).
class FullDiskExecutableWriter : public ExecutableWriter {
 public:
  explicit FullDiskExecutableWriter(uint64_t capacity) : capacity_(capacity) {}

 protected:
  std::unique_ptr<OutputFile> CreateFile(const std::string& path, const char* mode, std::string* error) override {
    std::unique_ptr<OutputFile> f = ExecutableWriter::CreateFile(path, mode, error);
    if (f == nullptr) return nullptr;
    return std::make_unique<FullDiskFile>(std::move(f), capacity_);
  }

 private:
  uint64_t capacity_;
};

}  // namespace kmr::testing
