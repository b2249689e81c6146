#include "player/container_file.h"
#include "player/media_file.h"

namespace kmr {

std::unique_ptr<RecordingFile> OpenRecordingFile(const std::string& path, std::string* error) {
  auto own = std::make_unique<ContainerFile>();
  if (path.empty()) {
    if (own->OpenOwnExecutable()) return own;
    *error = own->Error();
    return nullptr;
  }
  if (own->OpenPath(path)) return own;
  // Not the own container: another kind of media file, if it is one.
  std::string other;
  std::unique_ptr<RecordingFile> media = OpenMediaFile(path, &other);
  if (media != nullptr) return media;
  *error = own->Error();
  if (!other.empty()) *error += " (" + other + ")";
  return nullptr;
}

std::unique_ptr<RecordingFile> OpenRecordingSource(std::shared_ptr<ByteSource> source, std::string* error) {
  auto own = std::make_unique<ContainerFile>();
  if (own->OpenSource(std::make_unique<SharedByteSource>(source))) return own;
  std::string other;
  std::unique_ptr<RecordingFile> media = OpenMediaSource(std::move(source), &other);
  if (media != nullptr) return media;
  *error = own->Error();
  if (!other.empty()) *error += " (" + other + ")";
  return nullptr;
}

}  // namespace kmr
