// Bounded first-in-first-out list of pointers between any number of pushers
// and one popper. Created closed; after CloseQueue, Pop still hands out every
// remaining item, one per call, and only then fails. The queue does not own
// its items: whoever closes and drains it frees what it pops.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "platform/sync/sync.h"

namespace kmr {

class PacketQueueBase {
 public:
  PacketQueueBase() = default;
  PacketQueueBase(const PacketQueueBase&) = delete;
  PacketQueueBase& operator=(const PacketQueueBase&) = delete;

  // capacity: how many items the consumer can be signalled for (at least 1).
  // retry_ms: 0 = a full queue rejects a push; otherwise the pusher sleeps that
  // long and tries again until there is room.
  bool Init(uint32_t capacity, uint32_t retry_ms);

  bool CloseQueue();
  bool ReopenQueue();
  // While set, pushes fail, and a pusher waiting for room takes its item back
  // and fails: a consumer that will never pop again releases its producers.
  void AbortPushes(bool abort) { pushes_aborted_.store(abort); }
  // Items in the list, read under the lock.
  size_t Count() const;
  // Closed: its consumer has stopped or is draining.
  bool IsClosed() const;
  uint32_t Capacity() const { return capacity_; }

 protected:
  bool PushItem(void* item);
  bool PopItem(void** out);

 private:
  // The counting semaphore: fails instead of exceeding the capacity. The
  // lock must be held.
  bool ReleaseSemaphoreLocked();
  bool ReleaseSemaphore();
  // Keeps ready_ signalled exactly while a pop need not wait.
  void UpdateReadyLocked();

  uint32_t capacity_ = 0;
  uint32_t retry_ms_ = 0;
  bool initialized_ = false;
  std::atomic<bool> pushes_aborted_{false};

  // The lock over the list, the semaphore count and the close flag: held
  // only for those, never across a wait.
  mutable platform::Mutex mu_;
  platform::Event ready_{true};  // a pop can go ahead: an item is counted, or the queue is closed
  uint32_t semaphore_ = 0;
  bool closed_ = true;
  std::deque<void*> items_;
};

template <typename T>
class PacketQueue : public PacketQueueBase {
 public:
  PacketQueue() = default;
  PacketQueue(uint32_t capacity, uint32_t retry_ms) { Init(capacity, retry_ms); }
  bool Push(T* item) { return PushItem(item); }
  bool Pop(T** out) {
    void* item = nullptr;
    if (!PopItem(&item)) return false;
    *out = static_cast<T*>(item);
    return true;
  }
};

}  // namespace kmr
