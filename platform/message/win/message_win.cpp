#include <windows.h>

#include "platform/message/message.h"

namespace kmr::platform {

namespace {
class MessageBoxSink : public MessageSink {
 public:
  void ShowStop(const std::string& text) override {
    MessageBoxA(nullptr, text.c_str(), "Kelvo", MB_OK | MB_ICONSTOP | MB_SYSTEMMODAL);
  }
};
}  // namespace

MessageSink* SystemMessageSink() {
  static MessageBoxSink sink;
  return &sink;
}

}  // namespace kmr::platform
