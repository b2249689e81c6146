#include "player/byte_source.h"

#include <cstring>

namespace kmr {

namespace {
bool Seek(FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}
int64_t Tell(FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}
}  // namespace

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  int64_t size = -1;
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) == 0) size = Tell(f);
#else
  if (fseeko(f, 0, SEEK_END) == 0) size = Tell(f);
#endif
  if (size < 0 || !Seek(f, 0)) {
    std::fclose(f);
    return nullptr;
  }
  return std::unique_ptr<FileByteSource>(new FileByteSource(f, static_cast<uint64_t>(size)));
}

FileByteSource::~FileByteSource() { std::fclose(file_); }

bool FileByteSource::ReadAt(uint64_t offset, void* out, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (offset != position_) {
    if (!Seek(file_, offset)) return false;
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
