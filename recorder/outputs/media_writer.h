// Base of every output writer: owns the output file (in the subclass), a list
// of streams it does not own, a packet queue and the writer thread that pops
// packets and writes them through their streams.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/notify/notify.h"
#include "platform/sync/sync.h"
#include "recorder/outputs/disk_room.h"
#include "recorder/outputs/media_stream.h"
#include "shared/packet_queue.h"

namespace kmr {

class MediaWriter : public StreamBinder {
 public:
  static constexpr uint32_t kQueueCapacity = 1000;
  static constexpr uint32_t kQueueRetryMs = 100;
  static constexpr uint32_t kStopTimeoutMs = 5000;

  MediaWriter(const char* format_name, const char* extension);
  virtual ~MediaWriter();
  MediaWriter(const MediaWriter&) = delete;
  MediaWriter& operator=(const MediaWriter&) = delete;

  virtual bool Initialize() { return true; }
  virtual void Uninitialize() {}
  // Creates the file, binds and opens every stream, starts the writer thread.
  virtual bool Open() = 0;
  // Stops the writer thread, closes the streams and finishes the file. False
  // when the file could not be finished or a write failed during the
  // recording (Error says why).
  virtual bool Close();
  // Why the last Open, write or Close failed: a sentence, or empty. Read it
  // on the controlling thread after the writer thread has stopped.
  virtual std::string Error() const { return failure_cause_; }

  // The target is posted the message when the writer thread stops because a
  // write failed. Not owned.
  void SetNotify(platform::NotifyTarget* target, uint32_t message);

  bool SetPath(const char* text) { return SetText(&path_, text); }
  // Copies at most capacity - 1 characters and a terminator; fails without a path.
  bool GetPath(char* buffer, size_t capacity) const;
  const std::string& Path() const { return path_; }
  bool SetFormatName(const char* text) { return SetText(&format_name_, text); }
  bool SetExtension(const char* text) { return SetText(&extension_, text); }
  bool SetTitle(const char* text) { return SetText(&title_, text); }
  bool SetAuthor(const char* text) { return SetText(&author_, text); }
  bool SetCopyright(const char* text) { return SetText(&copyright_, text); }
  bool SetDescription(const char* text) { return SetText(&description_, text); }
  const std::string& FormatName() const { return format_name_; }
  const std::string& Title() const { return title_; }
  const std::string& Author() const { return author_; }
  const std::string& Copyright() const { return copyright_; }
  const std::string& Description() const { return description_; }
  const std::string& Extension() const { return extension_; }

  bool AddStream(MediaStream* stream);
  void ClearStreams() { streams_.clear(); }
  const std::vector<MediaStream*>& Streams() const { return streams_; }

  bool IsRunning() const { return running_.load(); }
  // Whether a write failed since the writer thread was last started.
  bool WriteFailed() const { return write_failed_.load(); }
  bool Enqueue(Packet* packet);

 protected:
  bool StartWriterThread();
  void StopWriterThread();
  // On the writer thread after each packet written; idle: nothing more is
  // queued. False stops the writer as a failed write does.
  virtual bool OnPacketWritten(bool idle) {
    (void)idle;
    return true;
  }
  void SetError(std::string cause) { failure_cause_ = std::move(cause); }

  // While the writer thread runs, each packet is first admitted by the
  // keeper of the disk's room: one refused stops the writer as a full disk
  // does, and the file is then finished from the room kept. Set before the
  // thread starts; null keeps no room.
  void KeepRoomOnDisk(std::unique_ptr<DiskRoomKeeper> keeper) { room_ = std::move(keeper); }
  bool RanOutOfRoom() const { return room_ != nullptr && room_->RanOut(); }
  // The disk of the file at path (tests give their own).
  virtual std::unique_ptr<DiskSpace> DiskSpaceOf(const std::string& path) { return MakeDiskSpaceOf(path); }
  // After a recording that failed, once the file was ended: the cause also
  // says whether what was recorded plays as the file is (whole) or needs a
  // repair.
  void TellWhatTheFileKeeps(bool whole);

 private:
  static bool SetText(std::string* field, const char* text);
  void WriterThreadMain();
  // Closes the queue and frees every packet still in it.
  void DiscardQueued();

  platform::NotifyTarget* notify_target_ = nullptr;
  uint32_t notify_message_ = 0;
  std::string failure_cause_;
  std::string path_, format_name_, extension_, title_, author_, copyright_, description_;
  std::vector<MediaStream*> streams_;
  PacketQueue<Packet> queue_;
  std::atomic<bool> running_{false};
  std::atomic<bool> write_failed_{false};
  std::unique_ptr<DiskRoomKeeper> room_;
  platform::Thread thread_;
};

}  // namespace kmr
