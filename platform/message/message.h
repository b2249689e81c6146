// How the recorder shows a failure: a system-modal message box with the stop
// icon on Windows; standard error on the Linux command line.
#pragma once

#include <string>

namespace kmr::platform {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void ShowStop(const std::string& text) = 0;
};

// The platform's way.
MessageSink* SystemMessageSink();

}  // namespace kmr::platform
