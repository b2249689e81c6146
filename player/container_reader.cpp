#include "player/container_reader.h"

#include <algorithm>

#include "platform/sync/sync.h"

namespace kmr {

ContainerReader::ContainerReader(platform::MsClock* clock) : clock_(clock) {}

ContainerReader::~ContainerReader() { ContainerReader::Stop(); }

bool ContainerReader::AddDecoder(StreamDecoder* decoder) {
  if (decoder == nullptr) return false;
  if (std::find(registered_.begin(), registered_.end(), decoder) == registered_.end()) registered_.push_back(decoder);
  return true;
}

bool ContainerReader::Start() {
  if (IsRunning()) Stop();
  file_ = OpenRecordingFile(path_, &error_);
  if (file_ == nullptr) return false;
  std::vector<StreamAcceptor*> acceptors(registered_.begin(), registered_.end());
  const std::vector<StreamAcceptor*> matched = file_->MatchStreams(acceptors);
  active_.clear();
  for (StreamAcceptor* a : matched) active_.push_back(static_cast<StreamDecoder*>(a));
  // A stream a decoder took but could not be set up for (a damaged or
  // hostile format) is not played silently as nothing.
  for (StreamDecoder* d : registered_) {
    const std::string why = d->Failure();
    if (!why.empty()) {
      error_ = "the recording cannot be played: " + why;
      file_.reset();
      return false;
    }
  }
  duration_ = file_->Duration();
  // Where seeks start decoding: the video stream's key frames.
  key_index_.clear();
  for (size_t i = 0; i < active_.size(); ++i) {
    if (active_[i] != nullptr && active_[i]->CatchesUp()) {
      key_index_ = file_->IndexKeyPackets(static_cast<uint16_t>(i));
      break;
    }
  }
  start_position_ = 0;
  error_.clear();
  damaged_ = false;
  last_stamp_.assign(active_.size(), 0);
  seen_.assign(active_.size(), false);
  pending_.reset();
  pending_stream_ = 0;
  if (!WorkerThread::Start()) {
    error_ = "the playback could not start";
    return false;
  }
  return true;
}

void ContainerReader::Stop() {
  WorkerThread::Stop();
  file_.reset();
}

bool ContainerReader::Damaged(const std::string& why) {
  if (error_.empty()) error_ = "the recording is damaged: " + why;
  damaged_ = true;  // what came before is still shown, then playback ends
  return true;
}

bool ContainerReader::OnStart() {
  const uint32_t now = clock_->NowMs();
  for (StreamDecoder*& d : active_) {
    if (d == nullptr) continue;
    d->ResetClock(now, start_position_);
    d->SetQuickPlay(quick_play_.load());
    if (!d->Start()) d = nullptr;
  }
  return true;
}

void ContainerReader::OnStop() {
  for (StreamDecoder* d : active_) {
    if (d != nullptr) d->Stop();
  }
  pending_.reset();
}

void ContainerReader::DropStoppedDecoders() {
  for (StreamDecoder*& d : active_) {
    if (d == nullptr || d->IsRunning()) continue;
    // It ended on its own (a frame it could not decode): the other streams
    // play on, and the reason is kept for the end.
    const std::string why = d->Failure();
    if (error_.empty() && !why.empty()) error_ = why;
    d = nullptr;
  }
}

bool ContainerReader::Step() {
  DropStoppedDecoders();
  if (!pending_) {
    if (damaged_ || file_->AtEnd()) {
      // Every packet presented and every sound heard to its end.
      for (StreamDecoder* d : active_) {
        if (d != nullptr && (d->Count() > 0 || !d->PlayedOut())) {
          platform::SleepMs(kRetryMs);
          return true;
        }
      }
      if (!loop_.load() || damaged_) return false;  // playback ends
      file_->Rewind();
      seen_.assign(active_.size(), false);
      for (StreamDecoder* d : active_) {
        if (d != nullptr) d->Stop();
      }
      const uint32_t now = clock_->NowMs();
      for (StreamDecoder* d : active_) {
        if (d == nullptr) continue;
        d->ResetClock(now);
        d->Start();
      }
      start_position_ = 0;
      return true;
    }
    switch (ReadNext(&pending_, &pending_stream_)) {
      case ReadResult::kPacket:
        break;
      case ReadResult::kEnd:
        return true;  // the end is handled on the next step
      case ReadResult::kDamaged:
        return true;
    }
  }
  StreamDecoder* d = pending_stream_ < active_.size() ? active_[pending_stream_] : nullptr;
  if (d == nullptr) {
    pending_.reset();  // no decoder for that stream: skipped
    return true;
  }
  switch (d->Push(pending_.get())) {
    case StreamDecoder::PushResult::kTaken:
      pending_.release();  // the decoder's now
      break;
    case StreamDecoder::PushResult::kFull:
      platform::SleepMs(kRetryMs);
      break;
    case StreamDecoder::PushResult::kStopped: {
      // The decoder gave up on its stream: the others play on without it.
      const std::string why = d->Failure();
      if (error_.empty()) error_ = why.empty() ? "stream " + std::to_string(pending_stream_) + " stopped" : why;
      active_[pending_stream_] = nullptr;
      pending_.reset();
      break;
    }
  }
  return true;
}

ContainerReader::ReadResult ContainerReader::ReadNext(std::unique_ptr<PlayerPacket>* packet, uint16_t* stream) {
  if (file_->AtEnd()) return ReadResult::kEnd;
  PacketRecord record;
  const RecordingFile::ReadResult read = file_->ReadPacket(&record);
  if (read == RecordingFile::ReadResult::kEnd) return ReadResult::kEnd;
  if (read != RecordingFile::ReadResult::kPacket) {
    Damaged(file_->Error());
    return ReadResult::kDamaged;
  }
  // Time stamps that go back or lie past the end would hold a decoder for
  // as long as they say: damage, not something to wait for.
  if (record.time_stamp > duration_) {
    Damaged("a packet at " + std::to_string(record.time_stamp) + " ms lies past the end (" +
            std::to_string(duration_) + " ms)");
    return ReadResult::kDamaged;
  }
  if (record.stream_id < seen_.size()) {
    if (seen_[record.stream_id] && record.time_stamp < last_stamp_[record.stream_id]) {
      Damaged("the time stamps of stream " + std::to_string(record.stream_id) + " go back from " +
              std::to_string(last_stamp_[record.stream_id]) + " to " + std::to_string(record.time_stamp) + " ms");
      return ReadResult::kDamaged;
    }
    seen_[record.stream_id] = true;
    last_stamp_[record.stream_id] = record.time_stamp;
  }
  auto p = std::make_unique<PlayerPacket>();
  p->time_stamp = record.time_stamp;
  p->duration = record.duration;
  p->flags = record.flags;
  p->data = std::move(record.payload);
  *packet = std::move(p);
  *stream = record.stream_id;
  return ReadResult::kPacket;
}

bool ContainerReader::SeekFile(uint32_t target) {
  uint64_t from = file_->StartOffset();
  for (const RecordingFile::KeyPacket& k : key_index_) {
    if (k.time_stamp > target) break;
    from = k.offset;
  }
  file_->SetPosition(from);
  seen_.assign(active_.size(), false);
  damaged_ = false;
  for (StreamDecoder* d : active_) {
    if (d != nullptr) d->BeginSeek();
  }
  pending_.reset();
  bool ok = true;
  for (;;) {
    std::unique_ptr<PlayerPacket> packet;
    uint16_t stream = 0;
    const ReadResult r = ReadNext(&packet, &stream);
    if (r == ReadResult::kEnd) break;
    if (r == ReadResult::kDamaged) {
      ok = false;
      break;
    }
    StreamDecoder* d = stream < active_.size() ? active_[stream] : nullptr;
    if (d == nullptr) continue;
    // The first packet to show from the target on plays as usual; a picture
    // stamped at the target itself is decoded now, so that a paused player
    // shows it at once.
    const uint32_t t = packet->time_stamp;
    if (t > target || (t == target && !d->CatchesUp())) {
      pending_ = std::move(packet);
      pending_stream_ = stream;
      break;
    }
    if (d->CatchesUp() && !d->CatchUp(packet.get())) {
      const std::string why = d->Failure();
      if (error_.empty()) error_ = why;
      active_[stream] = nullptr;  // that stream ends here; the others play on
    }
  }
  for (StreamDecoder* d : active_) {
    if (d != nullptr) d->FinishSeek();
  }
  return ok;
}

bool ContainerReader::Seek(uint32_t ms) {
  if (file_ == nullptr || !file_->IsOpen()) return false;
  const bool paused = IsRunning() && IsPaused();
  // The threads stop (the decoders with them); the file stays open.
  WorkerThread::Stop();
  start_position_ = std::min(ms, duration_);
  const bool ok = SeekFile(start_position_);
  // A paused player stays paused: its threads start paused, not one step later.
  if (paused) StartPausedNext();
  if (!WorkerThread::Start()) {
    if (error_.empty()) error_ = "the playback could not start";
    return false;
  }
  if (paused) Pause();  // and its decoders with it
  return ok;
}

bool ContainerReader::Pause() {
  for (StreamDecoder* d : active_) {
    if (d != nullptr) d->Pause();
  }
  return WorkerThread::Pause();
}

bool ContainerReader::Resume() {
  for (StreamDecoder* d : active_) {
    if (d != nullptr) d->Resume();
  }
  return WorkerThread::Resume();
}

void ContainerReader::SetQuickPlay(bool on) {
  quick_play_.store(on);
  for (StreamDecoder* d : active_) {
    if (d != nullptr) d->SetQuickPlay(on);
  }
}

uint32_t ContainerReader::GetDuration() const { return IsRunning() ? duration_ : 0; }

uint32_t ContainerReader::GetPosition() const { return IsRunning() ? StreamDecoder::MasterPosition() : 0; }

}  // namespace kmr
