// Writes a self-playing recording: a byte-for-byte copy of the player program,
// the screen video container appended to it, and the 12-byte trailer.
#pragma once

#include <cstdio>
#include <string>

#include "recorder/engine/media_writer.h"

namespace kmr {

class ExecutableWriter : public MediaWriter {
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
  // Only when the writer thread runs: drain, close the streams, write the trailer.
  void Close() override;

  uint32_t ContainerStart() const { return container_start_; }

 private:
  std::string player_path_;
  FILE* file_ = nullptr;
  uint32_t container_start_ = 0;
};

}  // namespace kmr
