// Random-access bytes of a recording: a file, or memory (tests, fuzzing).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kmr {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* out, size_t n) = 0;
};

class FileByteSource : public ByteSource {
 public:
  // Null when the file cannot be opened or its size cannot be read.
  static std::unique_ptr<FileByteSource> Open(const std::string& path);
  ~FileByteSource() override;
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;

 private:
  FileByteSource(FILE* f, uint64_t size) : file_(f), size_(size) {}
  FILE* file_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// A share of a source that others read too.
class SharedByteSource : public ByteSource {
 public:
  explicit SharedByteSource(std::shared_ptr<ByteSource> source) : source_(std::move(source)) {}
  uint64_t Size() const override { return source_->Size(); }
  bool ReadAt(uint64_t offset, void* out, size_t n) override { return source_->ReadAt(offset, out, n); }

 private:
  std::shared_ptr<ByteSource> source_;
};

class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace kmr
