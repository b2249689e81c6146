#include "player/stream_decoder.h"

namespace kmr {

namespace {
std::atomic<uint32_t> g_master_position{0};
}  // namespace

uint32_t StreamDecoder::MasterPosition() { return g_master_position.load(); }

StreamDecoder::StreamDecoder(uint32_t capacity, platform::MsClock* clock, std::unique_ptr<platform::FrameTimer> timer)
    : clock_(clock), timer_(std::move(timer)) {
  queue_.Init(capacity, 0);
}

StreamDecoder::~StreamDecoder() {
  StreamDecoder::Stop();
  PlayerPacket* p = nullptr;
  queue_.CloseQueue();
  while (queue_.Pop(&p)) delete p;
}

StreamDecoder::PushResult StreamDecoder::Push(PlayerPacket* packet) {
  if (queue_.IsClosed()) return PushResult::kStopped;
  return queue_.Push(packet) ? PushResult::kTaken : PushResult::kFull;
}

void StreamDecoder::SetFailure(const std::string& text) {
  platform::MutexLock lock(failure_mu_);
  failure_ = text;
}

std::string StreamDecoder::Failure() const {
  platform::MutexLock lock(failure_mu_);
  return failure_;
}

bool StreamDecoder::Start() {
  SetFailure("");
  if (!queue_.ReopenQueue()) return false;
  return WorkerThread::Start();
}

void StreamDecoder::Stop() {
  queue_.CloseQueue();
  WorkerThread::Stop();
}

bool StreamDecoder::Configure(const StreamHeader& header, const std::vector<uint8_t>& format) {
  SetFailure("");
  if (!Accept(header)) return false;
  header_ = header;
  format_ = format;
  return true;
}

void StreamDecoder::ResetClock(uint32_t now, uint32_t position) {
  last_ = now;
  elapsed_ = position;
  paused_ = 0;
  position_.store(position);
  g_master_position.exchange(position);
}

void StreamDecoder::DropPending() {
  pending_.reset();
  has_pending_.store(false);
}

bool StreamDecoder::OnStart() {
  if (!queue_.ReopenQueue() || !timer_) return false;
  DropPending();
  return true;
}

void StreamDecoder::OnStop() {
  queue_.CloseQueue();
  PlayerPacket* p = nullptr;
  while (queue_.Pop(&p)) delete p;
}

bool StreamDecoder::Step() {
  if (!pending_) {
    PlayerPacket* p = nullptr;
    if (!queue_.Pop(&p)) return true;  // closed and empty: the stop is on its way
    if (p == nullptr) return false;
    pending_.reset(p);
    has_pending_.store(true);
  }
  const uint32_t now = clock_->NowMs();
  elapsed_ += now - last_;
  if (IsResumed()) paused_ += now - last_;
  last_ = now;
  uint32_t position = elapsed_ - paused_;
  const uint32_t stamp = pending_->time_stamp;
  if (quick_play_.load()) {
    position = stamp;
    elapsed_ = paused_ + stamp;
  }
  const uint32_t master = g_master_position.load();
  if (position > master) {
    g_master_position.exchange(position);
  } else {
    // Behind the furthest decoder: jump to it.
    elapsed_ += master - position;
    position = master;
  }
  position_.store(position);
  if (position + Lead() < stamp) {
    const uint32_t w = stamp - position;
    if (w > kMaxWaitMs) {
      timer_->ArmRelative(kMaxWaitMs);
      timer_->Wait(kMaxWaitMs);
      return true;  // the clock is looked at again
    }
    timer_->ArmRelative(w);
    timer_->Wait(w);
  }
  const bool ok = Present(pending_.get());
  DropPending();
  return ok;
}

}  // namespace kmr
