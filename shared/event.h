// Manual-reset event: stays signalled until Reset.
#pragma once

#include <cstdint>

#include "platform/sync/sync.h"

namespace kmr {

class ManualResetEvent {
 public:
  void Set() { event_.Set(); }
  void Reset() { event_.Reset(); }
  bool IsSet() const { return event_.IsSet(); }
  // True when signalled within the time-out.
  bool Wait(uint32_t timeout_ms) { return event_.Wait(timeout_ms); }
  void WaitForever() { event_.WaitForever(); }

 private:
  mutable platform::Event event_{true};
};

}  // namespace kmr
