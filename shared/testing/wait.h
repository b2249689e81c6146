// Waiting for a state in tests: polls until the condition holds or a generous
// deadline passes, so a loaded machine slows a test down but never fails it.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kmr::testing {

inline constexpr std::chrono::milliseconds kGenerousDeadline{30000};

inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = kGenerousDeadline) {
  const auto limit = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= limit) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace kmr::testing
