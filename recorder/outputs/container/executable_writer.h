// Writes a self-playing recording: a byte-for-byte copy of the player program,
// the screen video container appended to it, and the 12-byte trailer.
#pragma once

#include <string>

#include "recorder/outputs/container/container_writer.h"

namespace kmr {

class ExecutableWriter : public ContainerWriter {
 public:
  ExecutableWriter();
  ~ExecutableWriter() override;

  // Stored only when a file exists there; otherwise the previous value stays.
  bool SetPlayerPath(const char* path);
  const std::string& PlayerPath() const { return player_path_; }
  // The player beside the running program ("morvin" with the program's own
  // extension); fails when there is none.
  bool SetPlayerPathBesideModule(const char* player_name);

  bool Open() override;

 private:
  std::string player_path_;
};

}  // namespace kmr
