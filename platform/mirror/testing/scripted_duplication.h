// A desktop duplication the tests script: each output's screen (32-bit
// words) and the frames, pointer shapes and failures it hands over next.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/mirror/duplication_mirror.h"

namespace kmr::platform::testing {

// One output's screen and the frames the test scripts for it.
struct ScriptedOutput {
  Rect place;
  int32_t Width() const { return place.Width(); }
  int32_t Height() const { return place.Height(); }
  std::vector<uint32_t> screen;  // B, G, R, X words, as the system hands them over
  std::deque<OutputDuplication::Acquired> results;  // kNothingNew once they run out
  std::deque<DuplicationFrame> frames;
  std::deque<DuplicationPointerShape> shapes;
  int reads = 0;
  int releases = 0;
  bool refuse_reads = false;
};

class ScriptedDuplication : public OutputDuplication {
 public:
  explicit ScriptedDuplication(ScriptedOutput* out) : out_(out) {}
  Acquired Acquire(DuplicationFrame* frame) override {
    if (out_->results.empty()) return Acquired::kNothingNew;
    const Acquired r = out_->results.front();
    out_->results.pop_front();
    if (r == Acquired::kFrame) {
      *frame = out_->frames.front();
      out_->frames.pop_front();
    }
    return r;
  }
  bool Read(const std::vector<Rect>& rects, uint8_t* pixels, uint32_t stride) override {
    ++out_->reads;
    if (out_->refuse_reads) return false;
    for (const Rect& r : rects) {
      for (int32_t y = r.top; y < r.bottom; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(r.left) * 4,
                    &out_->screen[static_cast<size_t>(y) * out_->Width() + r.left], static_cast<size_t>(r.Width()) * 4);
      }
    }
    return true;
  }
  bool Shape(DuplicationPointerShape* shape) override {
    if (out_->shapes.empty()) return false;
    *shape = out_->shapes.front();
    out_->shapes.pop_front();
    return true;
  }
  void Release() override { ++out_->releases; }

 private:
  ScriptedOutput* out_;
};

class ScriptedSystem : public DuplicationSystem {
 public:
  bool Outputs(std::vector<Rect>* places, std::string* why) override {
    if (!available) {
      *why = "output duplication is not available (E_NOTIMPL)";
      return false;
    }
    for (const ScriptedOutput& o : outputs) places->push_back(o.place);
    return true;
  }
  std::unique_ptr<OutputDuplication> Duplicate(size_t output, std::string* why) override {
    ++duplicates;
    if (refuse_duplicates > 0) {
      --refuse_duplicates;
      *why = "the desktop cannot be duplicated now";
      return nullptr;
    }
    return std::make_unique<ScriptedDuplication>(&outputs[output]);
  }
  bool available = true;
  int refuse_duplicates = 0;
  int duplicates = 0;
  std::deque<ScriptedOutput> outputs;
};

}  // namespace kmr::platform::testing
