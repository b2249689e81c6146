// The reader thread: opens a recording, offers its streams to the registered
// decoders and hands each packet to the decoder of its stream, as fast as
// their queues take them. At the end it waits for the queues to empty, then
// ends playback or starts again from the first packet.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/timer/frame_timer.h"
#include "player/container_file.h"
#include "player/stream_decoder.h"
#include "shared/worker_thread.h"

namespace kmr {

class ContainerReader : public WorkerThread {
 public:
  static constexpr uint32_t kRetryMs = 100;

  explicit ContainerReader(platform::MsClock* clock = platform::SystemMsClock());
  ~ContainerReader() override;

  bool AddDecoder(StreamDecoder* decoder);
  // The recording to play: a path, or empty for the program's own file.
  void SetSource(std::string path) { path_ = std::move(path); }
  // Opens and parses the recording, then starts the thread.
  bool Start() override;
  void Stop() override;
  bool Pause() override;
  bool Resume() override;
  void SetQuickPlay(bool on);
  bool GetQuickPlay() const { return quick_play_.load(); }
  void SetLoop(bool on) { loop_.store(on); }
  bool GetLoop() const { return loop_.load(); }
  // While playing: the trailer's duration and the master position; else 0.
  uint32_t GetDuration() const;
  uint32_t GetPosition() const;
  // Moves playback to ms (clamped to the duration), also after the end of
  // playback while the recording is open: the threads stop, the video is
  // decoded again from the last key frame at or before ms without being
  // shown, packets of other streams before ms are skipped, and playback
  // goes on from ms in the state it had (paused stays paused). False when
  // nothing is open or the recording is damaged before ms (Error says so).
  bool Seek(uint32_t ms);
  // The video stream's key frames found while opening (for tests).
  size_t KeyFrames() const { return key_index_.size(); }
  // Why playback ended early (a damaged recording or a stream that could
  // not be decoded); empty after a whole recording. Read it once the reader
  // has stopped.
  const std::string& Error() const { return error_; }
  // The open recording (null when none is open).
  const RecordingFile* File() const { return file_.get(); }

 protected:
  bool OnStart() override;
  void OnStop() override;
  bool Step() override;

 private:
  platform::MsClock* clock_;
  std::string path_;
  std::unique_ptr<RecordingFile> file_;
  std::string error_;
  std::vector<StreamDecoder*> registered_;
  std::vector<StreamDecoder*> active_;
  std::atomic<bool> quick_play_{false};
  std::atomic<bool> loop_{false};
  bool Damaged(const std::string& why);
  void DropStoppedDecoders();
  enum class ReadResult { kPacket, kEnd, kDamaged };
  // The next packet record, checked against the duration and its stream's
  // previous time stamp.
  ReadResult ReadNext(std::unique_ptr<PlayerPacket>* packet, uint16_t* stream);
  bool SeekFile(uint32_t target);

  std::unique_ptr<PlayerPacket> pending_;
  std::vector<uint32_t> last_stamp_;
  std::vector<bool> seen_;
  bool damaged_ = false;
  uint16_t pending_stream_ = 0;
  uint32_t duration_ = 0;
  uint32_t start_position_ = 0;  // where the clocks start (a seek's target)
  std::vector<RecordingFile::KeyPacket> key_index_;
};

}  // namespace kmr
