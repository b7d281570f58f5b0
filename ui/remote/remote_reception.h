#pragma once
// The viewer's end of the viewer link (viewerlink/viewer_protocol.h): a thread of its own
// connects to a remote service over TLS, asks for the backfill, reads the service's frames and
// queues the record lines for the owner's thread, which takes them in order and in batches, as
// from the local relay (CRelayReception). The thread does nothing else.
//
// Trust: the client certificate file (as `qvreg viewer-cert` writes it: certificate, key, CA)
// gives the viewer's identity and the CA that must have signed the service's certificate for
// the host name or address connected to. A service whose certificate does not verify so is
// accepted only when its SHA-256 fingerprint equals `pinnedFingerprint` (trust on first use:
// the owner shows untrustedFingerprint() to the user and, when told to, connects again with it
// pinned). Nothing is sent to a service before it is trusted.
//
// When the connection breaks the status says so, and the thread connects again after 1 s,
// doubling to 60 s. Each connection asks for `backfill` lines; after a reconnection the lines
// up to and including the last one already received are left out, so the missed lines arrive
// once (all of them when the gap was longer than the backfill).
//
// `wake` is called on the thread whenever lines wait and no take is due yet, or the status
// changed; the owner answers by posting a Take to its own thread. Lines beyond kMaxWaiting (an
// owner that stopped taking) are dropped and counted.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "reception/line_hand_over.h"

namespace qv {

struct RemoteTarget {
  std::string host;
  int32_t port = 0;
  std::string certificateFile;
  std::string pinnedFingerprint;  // "AB:CD:..." or empty
  uint32_t backfill = 0;
};

// "host:port" (an IPv6 address in brackets) into host and port; false when it is not that.
bool ParseRemoteAddress(const std::string& text, std::string* host, int32_t* port);

class CRemoteReception {
 public:
  static constexpr std::size_t kMaxWaiting = 1 << 20;
  static constexpr std::chrono::seconds kFirstRetry{1};
  static constexpr std::chrono::seconds kLastRetry{60};

  enum class State { kConnecting, kConnected, kBroken, kUntrusted };

  CRemoteReception(RemoteTarget target, std::function<void()> wake);
  // Stops the thread (within about a second); lines not taken are lost.
  ~CRemoteReception();
  CRemoteReception(const CRemoteReception&) = delete;
  CRemoteReception& operator=(const CRemoteReception&) = delete;

  // Starts the thread. The process ignores SIGPIPE from then on (when it had the default).
  void Start();

  // Moves at most `max` waiting record lines (without CR LF), oldest first, to the end of `out`;
  // true when more wait (no wake comes for them).
  bool Take(std::vector<std::string>& out, std::size_t max) { return handOver_.Take(out, max); }

  State state() const;
  // "Connected to host:port", "Connecting to host:port...", or why the link is down and when it
  // is tried again, for the status bar.
  std::string StatusText() const;
  // The untrusted service's fingerprint (state kUntrusted; the thread then waits for a new
  // target instead of retrying).
  std::string untrustedFingerprint() const;
  const RemoteTarget& target() const { return target_; }
  // Lines dropped since the last call because the owner had stopped taking.
  uint64_t TakeDropped() { return handOver_.TakeDropped(); }

 private:
  void Run();
  // One connection, until it breaks or the reception stops; the reason of the end.
  std::string Serve(bool* trustProblem);
  void SetState(State state, std::string text);

  const RemoteTarget target_;
  std::function<void()> wake_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  int socket_ = -1;  // shut down to end a blocking read when stopping
  State state_ = State::kConnecting;
  std::string status_;
  std::string fingerprint_;
  std::string lastLine_;  // the last record line received, over all connections
  CLineHandOver handOver_;
};

}  // namespace qv
