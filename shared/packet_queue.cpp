#include "shared/packet_queue.h"

#include <chrono>
#include <thread>

namespace kmr {

bool PacketQueueBase::Init(uint32_t capacity, uint32_t retry_ms) {
  if (capacity == 0 || initialized_) return false;
  capacity_ = capacity;
  retry_ms_ = retry_ms;
  initialized_ = true;
  return true;
}

bool PacketQueueBase::ReleaseSemaphore() {
  {
    std::lock_guard<std::mutex> lock(sync_mu_);
    if (semaphore_ >= capacity_) return false;
    ++semaphore_;
  }
  cv_.notify_one();
  return true;
}

bool PacketQueueBase::PushItem(void* item) {
  if (item == nullptr || !initialized_ || pushes_aborted_.load()) return false;
  {
    std::lock_guard<std::mutex> lock(list_mu_);
    items_.push_back(item);
    if (retry_ms_ == 0 && !ReleaseSemaphore()) {
      items_.pop_back();  // still ours: the list lock is held
      return false;
    }
  }
  if (retry_ms_ != 0) {
    // The item is already in the list, so the list may briefly hold more than
    // the capacity; the consumer only takes an item after the semaphore.
    while (!ReleaseSemaphore()) {
      if (pushes_aborted_.load()) {
        std::lock_guard<std::mutex> lock(list_mu_);
        for (auto it = items_.end(); it != items_.begin();) {
          if (*--it == item) {
            items_.erase(it);
            return false;
          }
        }
        // The consumer took it, on the count of an item pushed earlier: the
        // push went through after all. Give that count back so every listed
        // item stays counted, even one past the capacity.
        {
          std::lock_guard<std::mutex> sync(sync_mu_);
          ++semaphore_;
        }
        cv_.notify_one();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(retry_ms_));
    }
  }
  return true;
}

bool PacketQueueBase::PopItem(void** out) {
  if (!initialized_ || out == nullptr) return false;
  {
    std::unique_lock<std::mutex> lock(sync_mu_);
    cv_.wait(lock, [this] { return closed_ || semaphore_ > 0; });
    // When both are ready the close counts first: take the semaphore only if it
    // can be had without waiting, else the queue is closed and empty.
    if (semaphore_ == 0) return false;
    --semaphore_;
  }
  std::lock_guard<std::mutex> lock(list_mu_);
  *out = items_.front();
  items_.pop_front();
  return true;
}

bool PacketQueueBase::CloseQueue() {
  if (!initialized_) return false;
  {
    std::lock_guard<std::mutex> lock(sync_mu_);
    closed_ = true;
  }
  cv_.notify_all();
  return true;
}

bool PacketQueueBase::ReopenQueue() {
  if (!initialized_) return false;
  std::lock_guard<std::mutex> lock(sync_mu_);
  closed_ = false;
  return true;
}

bool PacketQueueBase::IsClosed() const {
  std::lock_guard<std::mutex> lock(sync_mu_);
  return closed_;
}

size_t PacketQueueBase::Count() const {
  std::lock_guard<std::mutex> lock(list_mu_);
  return items_.size();
}

}  // namespace kmr
