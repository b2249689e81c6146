// A writer whose thread runs and writes nothing, and a stream that keeps
// what the sound recorder hands it instead of queuing it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sync/sync.h"
#include "recorder/outputs/media_stream.h"
#include "recorder/outputs/media_writer.h"

namespace kmr::testing {

class RunningWriter : public MediaWriter {
 public:
  RunningWriter() : MediaWriter("Test", "tst") {}
  ~RunningWriter() override { Close(); }
  bool Open() override { return StartWriterThread(); }
};

class CollectingStream : public SoundStream {
 public:
  struct Block {
    uint32_t size, time_stamp, duration;
    uint8_t first_byte;
    std::vector<uint8_t> data;
  };
  bool Attach(const SoundFormat&) override { return true; }
  bool BindTo(StreamBinder&, uint32_t) override { return true; }
  bool WritePacket(const Packet*) override { return true; }
  bool Put(const MediaPacket& p) override {
    platform::MutexLock l(mu_);
    const auto* bytes = static_cast<const uint8_t*>(p.data);
    blocks_.push_back(Block{p.size, p.time_stamp, p.duration, p.size > 0 ? *bytes : uint8_t{0},
                            std::vector<uint8_t>(bytes, bytes + p.size)});
    return true;
  }
  std::vector<Block> Blocks() {
    platform::MutexLock l(mu_);
    return blocks_;
  }

 private:
  platform::Mutex mu_;
  std::vector<Block> blocks_;
};

}  // namespace kmr::testing
