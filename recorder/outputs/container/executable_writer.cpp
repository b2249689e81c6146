#include "recorder/outputs/container/executable_writer.h"

#include "platform/system/system.h"
#include "shared/path_name.h"

namespace kmr {

ExecutableWriter::ExecutableWriter() : ContainerWriter("Executable File", "exe") {}

ExecutableWriter::~ExecutableWriter() { Close(); }

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
  if (player_path_.empty()) {
    SetError("The player program was not found beside the recorder.");
    return false;
  }
  std::string error;
  if (!platform::CopyFileReplacing(player_path_.c_str(), Path().c_str(), &error)) {
    SetError(error);
    return false;
  }
  std::unique_ptr<OutputFile> f = CreateFile(Path(), "ab", &error);
  if (f == nullptr) {
    SetError(error);
    return false;
  }
  return OpenContainer(std::move(f));
}

}  // namespace kmr
