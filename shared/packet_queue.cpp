#include "shared/packet_queue.h"

namespace kmr {

bool PacketQueueBase::Init(uint32_t capacity, uint32_t retry_ms) {
  if (capacity == 0 || initialized_) return false;
  capacity_ = capacity;
  retry_ms_ = retry_ms;
  initialized_ = true;
  return true;
}

void PacketQueueBase::UpdateReadyLocked() {
  if (semaphore_ > 0 || closed_) {
    ready_.Set();
  } else {
    ready_.Reset();
  }
}

bool PacketQueueBase::ReleaseSemaphoreLocked() {
  if (semaphore_ >= capacity_) return false;
  ++semaphore_;
  UpdateReadyLocked();
  return true;
}

bool PacketQueueBase::ReleaseSemaphore() {
  platform::MutexLock lock(mu_);
  return ReleaseSemaphoreLocked();
}

bool PacketQueueBase::PushItem(void* item) {
  if (item == nullptr || !initialized_ || pushes_aborted_.load()) return false;
  {
    platform::MutexLock lock(mu_);
    items_.push_back(item);
    if (retry_ms_ == 0) {
      if (ReleaseSemaphoreLocked()) return true;
      items_.pop_back();  // still ours: the lock is held
      return false;
    }
  }
  // The item is already in the list, so the list may briefly hold more than
  // the capacity; the consumer only takes an item after the semaphore.
  while (!ReleaseSemaphore()) {
    if (pushes_aborted_.load()) {
      platform::MutexLock lock(mu_);
      for (auto it = items_.end(); it != items_.begin();) {
        if (*--it == item) {
          items_.erase(it);
          return false;
        }
      }
      // The consumer took it, on the count of an item pushed earlier: the
      // push went through after all. Give that count back so every listed
      // item stays counted, even one past the capacity.
      ++semaphore_;
      UpdateReadyLocked();
      return true;
    }
    platform::SleepMs(retry_ms_);
  }
  return true;
}

bool PacketQueueBase::PopItem(void** out) {
  if (!initialized_ || out == nullptr) return false;
  for (;;) {
    {
      platform::MutexLock lock(mu_);
      // When both are ready the close counts first: an item is taken only if
      // its count can be had without waiting, else the queue is closed and empty.
      if (semaphore_ > 0) {
        --semaphore_;
        *out = items_.front();
        items_.pop_front();
        UpdateReadyLocked();
        return true;
      }
      if (closed_) return false;
    }
    ready_.WaitForever();
  }
}

bool PacketQueueBase::CloseQueue() {
  if (!initialized_) return false;
  platform::MutexLock lock(mu_);
  closed_ = true;
  UpdateReadyLocked();
  return true;
}

bool PacketQueueBase::ReopenQueue() {
  if (!initialized_) return false;
  platform::MutexLock lock(mu_);
  closed_ = false;
  UpdateReadyLocked();
  return true;
}

bool PacketQueueBase::IsClosed() const {
  platform::MutexLock lock(mu_);
  return closed_;
}

size_t PacketQueueBase::Count() const {
  platform::MutexLock lock(mu_);
  return items_.size();
}

}  // namespace kmr
