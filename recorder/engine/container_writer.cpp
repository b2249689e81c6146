#include "recorder/engine/container_writer.h"

#include <algorithm>
#include <vector>

#include "shared/container/container_format.h"

namespace kmr {

ContainerWriter::~ContainerWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ContainerWriter::OpenContainer(FILE* file) {
  file_ = file;
  std::fseek(file_, 0, SEEK_END);
  const long start = std::ftell(file_);
  bool ok = start >= 0 && static_cast<unsigned long>(start) < kMaxContainerFilePosition;
  if (ok) {
    container_start_ = static_cast<uint32_t>(start);
    std::vector<uint8_t> count;
    ByteWriter w(&count);
    w.U16(static_cast<uint16_t>(Streams().size()));
    ok = std::fwrite(count.data(), 1, count.size(), file_) == count.size();
  }
  for (size_t i = 0; ok && i < Streams().size(); ++i) {
    MediaStream* stream = Streams()[i];
    if (stream == nullptr) continue;
    ok = stream->Bind(file_, static_cast<uint32_t>(i)) && stream->Open();
  }
  // The descriptors reach the file before the first packet is queued.
  if (ok) ok = std::fflush(file_) == 0;
  if (ok) ok = StartWriterThread();
  if (!ok) {
    std::fclose(file_);
    file_ = nullptr;
  }
  return ok;
}

void ContainerWriter::Close() {
  if (!IsRunning()) return;
  StopWriterThread();
  uint32_t duration = 0;
  for (MediaStream* stream : Streams()) {
    if (stream == nullptr) continue;
    duration = std::max(duration, stream->GetEndTime());
    stream->Close();
  }
  if (file_ == nullptr) return;
  std::vector<uint8_t> bytes;
  ByteWriter w(&bytes);
  Trailer{duration, container_start_, kTrailerMagic}.Write(w);
  std::fwrite(bytes.data(), 1, bytes.size(), file_);
  std::fclose(file_);
  file_ = nullptr;
}

bool StandaloneContainerWriter::Open() {
  if (Path().empty()) return false;
  Close();
  FILE* f = std::fopen(Path().c_str(), "wb");
  if (f == nullptr) return false;
  return OpenContainer(f);
}

}  // namespace kmr
