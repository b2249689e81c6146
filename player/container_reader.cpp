#include "player/container_reader.h"

#include <algorithm>
#include <chrono>
#include <thread>

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
  const bool opened = path_.empty() ? file_.OpenOwnExecutable() : file_.OpenPath(path_);
  if (!opened) {
    error_ = file_.Error();
    return false;
  }
  std::vector<StreamAcceptor*> acceptors(registered_.begin(), registered_.end());
  const std::vector<StreamAcceptor*> matched = file_.MatchStreams(acceptors);
  active_.clear();
  for (StreamAcceptor* a : matched) active_.push_back(static_cast<StreamDecoder*>(a));
  duration_ = file_.GetTrailer().duration;
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
  file_.Close();
}

bool ContainerReader::OnStart() {
  const uint32_t now = clock_->NowMs();
  for (StreamDecoder*& d : active_) {
    if (d == nullptr) continue;
    d->ResetClock(now);
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

bool ContainerReader::Step() {
  if (!pending_) {
    if (file_.Position() >= file_.PacketDataEnd()) {
      for (StreamDecoder* d : active_) {
        if (d != nullptr && (d->Count() > 0)) {
          std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
          return true;
        }
      }
      if (!loop_.load()) return false;  // playback ends
      file_.Rewind();
      for (StreamDecoder* d : active_) {
        if (d != nullptr) d->Stop();
      }
      const uint32_t now = clock_->NowMs();
      for (StreamDecoder* d : active_) {
        if (d == nullptr) continue;
        d->ResetClock(now);
        d->Start();
      }
      return true;
    }
    PacketRecord record;
    if (file_.ReadPacket(&record) != ContainerFile::ReadResult::kPacket) {
      error_ = file_.Error();
      return false;  // a damaged recording ends playback here
    }
    auto packet = std::make_unique<PlayerPacket>();
    packet->time_stamp = record.time_stamp;
    packet->duration = record.duration;
    packet->flags = record.flags;
    packet->data = std::move(record.payload);
    pending_ = std::move(packet);
    pending_stream_ = record.stream_id;
  }
  StreamDecoder* d = pending_stream_ < active_.size() ? active_[pending_stream_] : nullptr;
  if (d == nullptr) {
    pending_.reset();  // no decoder for that stream: skipped
    return true;
  }
  if (d->Push(pending_.get())) {
    pending_.release();  // the decoder's now
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));  // its queue is full
  }
  return true;
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
