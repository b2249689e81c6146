#include <cstdio>

#include "platform/message/message.h"

namespace kmr::platform {

namespace {
class StderrSink : public MessageSink {
 public:
  void ShowStop(const std::string& text) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
};
}  // namespace

MessageSink* SystemMessageSink() {
  static StderrSink sink;
  return &sink;
}

}  // namespace kmr::platform
