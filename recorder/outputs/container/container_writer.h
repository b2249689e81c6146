// Writes the screen video container into an output file: stream count and
// descriptors at open, packets from the writer thread, the trailer at close.
// ExecutableWriter puts a copy of the player in front of it; the stand-alone
// writer makes a ".kmr" file with the container at offset 0.
//
// What is written stays playable: the file is handed to the system whenever
// the writer catches up and at least once a second, and after a failed write
// the torn packet is cut off before the trailer is written, so the file holds
// every whole packet up to the failure.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/timer/frame_timer.h"
#include "recorder/outputs/media_writer.h"
#include "recorder/outputs/container/container_stream.h"
#include "recorder/outputs/container/output_file.h"

namespace kmr {

class ContainerWriter : public MediaWriter {
 public:
  static constexpr uint32_t kFlushIntervalMs = 1000;

  ContainerWriter(const char* format_name, const char* extension,
                  platform::MsClock* clock = platform::SystemMsClock());
  ~ContainerWriter() override;

  // Whenever a file is open: drain, close the streams, write the trailer and
  // close the file. False when any write of the recording failed.
  bool Close() override;
  std::string Error() const override;
  uint32_t ContainerStart() const { return container_start_; }
  // Binds a stream of the container to the open file.
  bool Bind(ContainerStream& stream, uint32_t id) override;

 protected:
  // Takes the file (positioned at its end): writes the stream count, binds
  // and opens every stream and starts the writer thread. On failure the file
  // is closed; what was written stays on disk.
  bool OpenContainer(std::unique_ptr<OutputFile> file);
  bool OnPacketWritten(bool idle) override;
  // Opens the output for a new container; tests put a failing file here.
  virtual std::unique_ptr<OutputFile> CreateFile(const std::string& path, const char* mode, std::string* error);

 private:
  bool WriteTrailer(uint32_t duration);
  bool FinishAfterFailure(uint32_t duration);

  platform::MsClock* clock_;
  std::unique_ptr<OutputFile> file_;
  std::vector<ContainerStream*> bound_;  // the recording's streams, in the file
  uint32_t container_start_ = 0;
  uint64_t descriptors_end_ = 0;  // the file is never cut shorter
  uint64_t durable_end_ = 0;  // end of the last whole record handed to the system
  uint32_t last_flush_ms_ = 0;
};

// A recording without a player in front: the container alone (".kmr").
class StandaloneContainerWriter : public ContainerWriter {
 public:
  StandaloneContainerWriter() : ContainerWriter("Screen Video Recording", "kmr") {}
  ~StandaloneContainerWriter() override { Close(); }
  bool Open() override;
};

}  // namespace kmr
