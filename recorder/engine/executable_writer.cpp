#include "recorder/engine/executable_writer.h"

#include <algorithm>
#include <vector>

#include "platform/system/system.h"
#include "shared/container/container_format.h"
#include "shared/path_name.h"

namespace kmr {

ExecutableWriter::ExecutableWriter() : MediaWriter("Executable File", "exe") {}

ExecutableWriter::~ExecutableWriter() {
  Close();
  if (file_ != nullptr) std::fclose(file_);
}

bool ExecutableWriter::SetPlayerPath(const char* path) {
  if (path == nullptr || path[0] == '\0' || !platform::PathExists(path)) return false;
  player_path_ = path;
  return true;
}

bool ExecutableWriter::SetPlayerPathBesideModule(const char* player_name) {
  PathName module;
  if (!module.SetToModulePath()) return false;
  std::string extension;
  module.Extension(&extension, true);
  std::string dir;
  module.Directory(&dir, true);
  PathName player((dir + player_name).c_str());
  std::string own;
  player.Extension(&own, true);
  if (own.empty() && !extension.empty()) player.ReplaceExtension(extension.c_str());
  return SetPlayerPath(player.Get());
}

bool ExecutableWriter::Open() {
  if (Path().empty()) return false;
  Close();  // a recording still open is finished first
  if (file_ != nullptr) {  // left from an open that failed
    std::fclose(file_);
    file_ = nullptr;
  }
  if (player_path_.empty() || !platform::CopyFileReplacing(player_path_.c_str(), Path().c_str())) return false;
  file_ = std::fopen(Path().c_str(), "ab");
  if (file_ == nullptr) return false;
  std::fseek(file_, 0, SEEK_END);
  const long start = std::ftell(file_);
  if (start < 0 || static_cast<unsigned long>(start) >= kMaxContainerFilePosition) {
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  container_start_ = static_cast<uint32_t>(start);

  std::vector<uint8_t> count;
  ByteWriter w(&count);
  w.U16(static_cast<uint16_t>(Streams().size()));
  bool ok = std::fwrite(count.data(), 1, count.size(), file_) == count.size();
  for (size_t i = 0; ok && i < Streams().size(); ++i) {
    MediaStream* stream = Streams()[i];
    if (stream == nullptr) continue;
    ok = stream->Bind(file_, static_cast<uint32_t>(i)) && stream->Open();
  }
  // The descriptors reach the file before the first packet is queued.
  if (ok) ok = std::fflush(file_) == 0;
  if (ok) ok = StartWriterThread();
  if (!ok) {
    // The partial file stays on disk as it is; only the handle is released.
    std::fclose(file_);
    file_ = nullptr;
  }
  return ok;
}

void ExecutableWriter::Close() {
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

}  // namespace kmr
