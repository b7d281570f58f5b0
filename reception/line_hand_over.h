#pragma once
// Record lines handed from a reading thread to the owner's thread, oldest first.
//
// The reader calls Hand with what it read; `wake` runs on the reader's thread when lines wait and
// no take is due yet, and the owner answers it by posting a Take to its own thread. Lines beyond
// `maxWaiting` (an owner that has stopped taking) are dropped and counted, so memory stays bounded.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qv {

class CLineHandOver {
 public:
  CLineHandOver(std::size_t maxWaiting, std::function<void()> wake);

  // Moves `lines` into the queue (leaving it empty) and calls wake when a take is due.
  void Hand(std::vector<std::string>& lines);

  // Moves at most `max` waiting lines, oldest first, to the end of `out`. Returns true when more
  // wait; the caller then takes again later (no wake comes for them).
  bool Take(std::vector<std::string>& out, std::size_t max);

  // The lines dropped since the last call.
  uint64_t TakeDropped() { return dropped_.exchange(0, std::memory_order_relaxed); }

 private:
  const std::size_t maxWaiting_;
  std::function<void()> wake_;
  std::mutex mutex_;
  std::deque<std::string> waiting_;
  bool wakeDue_ = true;  // the next line that arrives calls wake
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace qv
