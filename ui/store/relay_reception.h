#pragma once
// The viewer's end of the relay while the service runs: a thread of its own drains the relay
// socket as fast as records arrive (the kernel queues only net.unix.max_dgram_qlen datagrams,
// 512 by default: 10 ms at 50,000 records a second) and queues the record lines for the owner's
// thread, which takes them in arrival order and in batches. The thread does nothing else, so
// that it is back at the socket as soon as possible.
//
// `wake` is called on the draining thread whenever lines wait and no take is due yet; the owner
// answers it by posting a Take to its own thread. Lines beyond kMaxWaiting (an owner that has
// stopped taking) are dropped and counted, so memory stays bounded.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reception/relay_receiver.h"

namespace qv {

class CRelayReception {
 public:
  static constexpr std::size_t kMaxWaiting = 1 << 20;
  // Lines read from the socket before they are handed over.
  static constexpr std::size_t kMaxPerHandOver = 512;

  explicit CRelayReception(std::function<void()> wake);
  // Stops the thread; records not taken are lost.
  ~CRelayReception();
  CRelayReception(const CRelayReception&) = delete;
  CRelayReception& operator=(const CRelayReception&) = delete;

  // Binds the relay socket at `path` and starts draining it. False, with one line in *error,
  // when the socket cannot be bound (another viewer holds it, say).
  bool Start(const std::string& path, std::string* error);

  // Moves at most `max` waiting record lines (without CR LF), oldest first, to the end of `out`.
  // Returns true when more wait; the caller then takes again later (no wake comes for them).
  bool Take(std::vector<std::string>& out, std::size_t max);

  uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  void Drain();

  std::function<void()> wake_;
  CRelayReceiver receiver_;
  int stopFd_ = -1;  // an eventfd that ends the thread's wait
  std::thread thread_;
  std::mutex mutex_;
  std::deque<std::string> waiting_;
  bool wakeDue_ = true;  // the next record that arrives calls wake
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace qv
