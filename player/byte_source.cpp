#include "player/byte_source.h"

#include <cstring>

#include "platform/system/system.h"

namespace kmr {

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  const int64_t size = platform::OpenFileSize(f);
  if (size < 0 || !platform::SeekFile(f, 0)) {
    std::fclose(f);
    return nullptr;
  }
  return std::unique_ptr<FileByteSource>(new FileByteSource(f, static_cast<uint64_t>(size)));
}

FileByteSource::~FileByteSource() { std::fclose(file_); }

bool FileByteSource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (offset != position_) {
    if (!platform::SeekFile(file_, offset)) return false;
    position_ = offset;
  }
  const size_t got = std::fread(out, 1, n, file_);
  position_ += got;
  return got == n;
}

bool MemoryByteSource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n != 0) std::memcpy(out, data_ + offset, n);
  return true;
}

}  // namespace kmr
