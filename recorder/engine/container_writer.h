// Writes the screen video container into an output file: stream count and
// descriptors at open, packets from the writer thread, the trailer at close.
// ExecutableWriter puts a copy of the player in front of it; the stand-alone
// writer makes a ".kmr" file with the container at offset 0.
#pragma once

#include <cstdio>

#include "recorder/engine/media_writer.h"

namespace kmr {

class ContainerWriter : public MediaWriter {
 public:
  using MediaWriter::MediaWriter;
  ~ContainerWriter() override;

  // Only when the writer thread runs: drain, close the streams, write the trailer.
  void Close() override;
  uint32_t ContainerStart() const { return container_start_; }

 protected:
  // Takes the file (opened for writing at its end): writes the stream count,
  // binds and opens every stream and starts the writer thread. On failure the
  // file is closed; what was written stays on disk.
  bool OpenContainer(FILE* file);

 private:
  FILE* file_ = nullptr;
  uint32_t container_start_ = 0;
};

// A recording without a player in front: the container alone (".kmr").
class StandaloneContainerWriter : public ContainerWriter {
 public:
  StandaloneContainerWriter() : ContainerWriter("Screen Video Recording", "kmr") {}
  ~StandaloneContainerWriter() override { Close(); }
  bool Open() override;
};

}  // namespace kmr
