#include "recorder/outputs/media_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/system/system.h"

namespace kmr {

MediaWriter::MediaWriter(const char* format_name, const char* extension) {
  queue_.Init(kQueueCapacity, kQueueRetryMs);
  SetFormatName(format_name);
  SetExtension(extension);
}

MediaWriter::~MediaWriter() {
  // Subclasses close in their own destructors; this only makes sure no thread
  // outlives the writer.
  StopWriterThread();
}

bool MediaWriter::Close() {
  StopWriterThread();
  return true;
}

void MediaWriter::TellWhatTheFileKeeps(bool whole) {
  const char* what = whole ? "What was recorded until then is kept in the file, which plays as it is."
                           : "The file could not be finished: kmrtool repair makes what was recorded play.";
  SetError(failure_cause_.empty() ? std::string(what) : failure_cause_ + " " + what);
}

void MediaWriter::SetNotify(platform::NotifyTarget* target, uint32_t message) {
  notify_target_ = target;
  notify_message_ = message;
}

bool MediaWriter::SetText(std::string* field, const char* text) {
  if (text == nullptr) return false;
  *field = text;
  return true;
}

bool MediaWriter::GetPath(char* buffer, size_t capacity) const {
  if (path_.empty() || buffer == nullptr || capacity == 0) return false;
  const size_t n = std::min(path_.size(), capacity - 1);
  std::memcpy(buffer, path_.data(), n);
  buffer[n] = '\0';
  return true;
}

bool MediaWriter::AddStream(MediaStream* stream) {
  if (stream == nullptr) return false;
  if (std::find(streams_.begin(), streams_.end(), stream) == streams_.end()) streams_.push_back(stream);
  return true;
}

bool MediaWriter::Enqueue(Packet* packet) {
  if (queue_.Push(packet)) return true;
  FreePacket(packet);  // the producer cannot get it back
  return false;
}

void MediaWriter::DiscardQueued() {
  queue_.CloseQueue();
  Packet* packet = nullptr;
  while (queue_.Pop(&packet)) FreePacket(packet);
}

bool MediaWriter::StartWriterThread() {
  if (IsRunning()) Close();
  // A thread that ended on a failed write with nobody to tell is joined here.
  if (thread_.Joinable()) StopWriterThread();
  DiscardQueued();
  if (!queue_.ReopenQueue()) return false;
  queue_.AbortPushes(false);
  running_.store(true);
  write_failed_.store(false);
  if (!thread_.Start([this] { WriterThreadMain(); })) {
    running_.store(false);
    return false;
  }
  return true;
}

void MediaWriter::StopWriterThread() {
  queue_.CloseQueue();
  // The thread drains what is queued and ends. It is never abandoned in the
  // middle of a write: past the usual 5 s of a slow disk it is waited for still,
  // so the file stays consistent.
  thread_.Join();
  DiscardQueued();
  running_.store(false);
}

void MediaWriter::WriterThreadMain() {
  for (;;) {
    Packet* packet = nullptr;
    if (!queue_.Pop(&packet)) {
      queue_.CloseQueue();
      running_.store(false);
      return;
    }
    bool ok = packet->stream != nullptr;
    if (ok && room_ != nullptr && !room_->Admit(packet->time_stamp)) {
      SetError(platform::ErrnoText(ENOSPC));
      ok = false;
    }
    ok = ok && packet->stream->WritePacket(packet);
    FreePacket(packet);
    if (ok) ok = OnPacketWritten(queue_.Count() == 0);
    if (ok) continue;
    write_failed_.store(true);
    // Nobody pops any more: producers waiting for room give up instead of
    // waiting forever, and later submits fail at once.
    queue_.AbortPushes(true);
    if (notify_target_ != nullptr && notify_message_ != 0) {
      // The stop path closes the writer, which finishes the clean-up.
      notify_target_->Post(notify_message_);
      return;
    }
    queue_.CloseQueue();
    running_.store(false);
    return;
  }
}

}  // namespace kmr
