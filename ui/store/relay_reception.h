#pragma once
// The viewer's end of the relay while the service runs: a thread of its own drains the relay
// socket as fast as records arrive (the kernel queues only net.unix.max_dgram_qlen datagrams,
// 512 by default: 10 ms at 50,000 records a second) and queues the record lines for the owner's
// thread, which takes them in arrival order and in batches. The thread does nothing else, so
// that it is back at the socket as soon as possible.
//
// `wake` and the bound on waiting lines are those of CLineHandOver.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "reception/line_hand_over.h"
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
  bool Take(std::vector<std::string>& out, std::size_t max) { return handOver_.Take(out, max); }

  // Lines dropped since the last call because the owner had stopped taking.
  uint64_t TakeDropped() { return handOver_.TakeDropped(); }

 private:
  void Drain();

  CLineHandOver handOver_;
  CRelayReceiver receiver_;
  int stopFd_ = -1;  // an eventfd that ends the thread's wait
  std::thread thread_;
};

}  // namespace qv
