// Base of the player's decoder threads: a queue of packets from the reader,
// and the presentation clock that holds each packet until its time stamp.
// Decoders keep in step through one process-wide master position.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sync/sync.h"
#include "platform/timer/frame_timer.h"
#include "player/container_file.h"
#include "shared/packet_queue.h"
#include "shared/worker_thread.h"

namespace kmr {

struct PlayerPacket {
  uint32_t time_stamp = 0;
  uint32_t duration = 0;
  uint32_t flags = 0;
  std::vector<uint8_t> data;
};

class StreamDecoder : public WorkerThread, public StreamAcceptor {
 public:
  static constexpr uint32_t kMaxWaitMs = 100;

  StreamDecoder(uint32_t queue_capacity, platform::MsClock* clock, std::unique_ptr<platform::FrameTimer> timer);
  ~StreamDecoder() override;

  bool Start() override;  // reopens the queue, then starts the thread
  void Stop() override;   // closes the queue, then stops the thread

  bool Configure(const StreamHeader& header, const std::vector<uint8_t>& format) override;
  virtual void SetQuickPlay(bool on) { quick_play_.store(on); }
  // How long before its time stamp a packet may be presented.
  virtual uint32_t Lead() const { return 0; }
  virtual bool Present(PlayerPacket* packet) = 0;

  enum class PushResult { kTaken, kFull, kStopped };
  // The queue's push, without waiting; when taken the packet is the
  // decoder's. A decoder whose thread has stopped (its queue is closed)
  // takes nothing more.
  PushResult Push(PlayerPacket* packet);
  // Why the decoder stopped on its own (a damaged format or frame); empty
  // otherwise. Read it once Push says the decoder stopped.
  std::string Failure() const;
  // Packets not yet presented: those queued and the one held for its time (so
  // that the reader does not end playback before the last frame is shown).
  size_t Count() const { return queue_.Count() + (has_pending_.load() ? 1 : 0); }
  // Whether what was presented has been played out to the end (sound still
  // queued in the output has not): the reader ends or loops playback only
  // then. Asked once the decoder holds no packet.
  virtual bool PlayedOut() { return true; }
  // The clock starts at position (ms into the recording) at time now.
  void ResetClock(uint32_t now, uint32_t position = 0);

  // Seeking, on the controlling thread while this decoder is stopped: the
  // stream's decoding history is dropped; packets before the target are
  // either decoded without being shown (CatchesUp) or skipped; at the end the
  // decoder shows where it is.
  virtual void BeginSeek() {}
  virtual bool CatchesUp() const { return false; }
  virtual bool CatchUp(PlayerPacket* packet) {
    (void)packet;
    return true;
  }
  virtual void FinishSeek() {}
  uint32_t Position() const { return position_.load(); }

  // The furthest position any decoder reached since the last clock reset.
  static uint32_t MasterPosition();

 protected:
  bool OnStart() override;
  void OnStop() override;
  bool Step() override;
  const StreamHeader& Header() const { return header_; }
  const std::vector<uint8_t>& Format() const { return format_; }

 protected:
  void SetFailure(const std::string& text);

 private:
  void DropPending();

  StreamHeader header_;
  std::vector<uint8_t> format_;
  PacketQueue<PlayerPacket> queue_;
  std::unique_ptr<PlayerPacket> pending_;
  std::atomic<bool> has_pending_{false};
  std::atomic<bool> quick_play_{false};
  platform::MsClock* clock_;
  std::unique_ptr<platform::FrameTimer> timer_;
  uint32_t last_ = 0, elapsed_ = 0, paused_ = 0;
  std::atomic<uint32_t> position_{0};
  mutable platform::Mutex failure_mu_;
  std::string failure_;
};

}  // namespace kmr
