#pragma once
// Polls a condition until it holds or a time limit passes, for tests that wait on another
// process or thread.

#include <chrono>
#include <thread>

namespace qv::testing {

// True as soon as `condition` holds; false when `limit` passed first.
template <typename Condition>
inline bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace qv::testing
