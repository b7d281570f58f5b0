#pragma once
// The service's half of the relay: every record the service accepts is sent on, as its record
// line without CR LF, one datagram per record, to the Unix datagram socket at the relay path,
// where the windowed program receives while it runs. Nothing is acknowledged or retransmitted.
//
// The service must never wait for a viewer: sends are non-blocking. The kernel queues only
// net.unix.max_dgram_qlen datagrams for the viewer (10 on a plain kernel, 512 on many
// distributions), so lines the viewer's full queue refuses wait here, in order, up to
// kMaxBacklogBytes, and go out when the owner sees fd() writable again (the viewer has read);
// beyond that bound new lines are dropped. With nobody receiving everything is dropped at once.
// The records are in the history either way.
//
// Lines are sent together by sendmmsg, as a system call per record would cost more than the
// rest of the record's handling. The owner flushes after each batch of received datagrams and
// after each message it makes itself, so a record waits at most for the rest of its batch.
// Once per flush the socket file is looked up: while it does not exist nothing is sent, and a
// viewer that came back (a new socket at the path) is connected to anew.
//
// Records go only to the viewer the design expects: the file must be a socket itself (never a
// symbolic link to one elsewhere) owned by this process's user, by root, or by a member of the group
// with which the socket's folder is shared (IsTrustedRelayPeer). Anything else at the path is
// treated as no viewer: nothing is sent.
//
// Not locked: one thread relays.

#include <sys/types.h>

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

namespace qv {

// Whether a relay socket owned by `owner` in `folder` belongs to a viewer the service may feed:
// the service's own user, root, or a member of the group of a folder shared with it
// (set-group-id).
bool IsTrustedRelayPeer(const std::string& folder, uid_t owner);

class CRelaySender {
 public:
  // Relays to the socket at `socketPath` (normally RelaySocketPath()).
  explicit CRelaySender(std::string socketPath);
  ~CRelaySender();
  CRelaySender(const CRelaySender&) = delete;
  CRelaySender& operator=(const CRelaySender&) = delete;

  // Queues `recordLine` without its last two characters (its CR LF); kMaxBatch queued lines
  // are flushed at once. Dropped when kMaxBacklogBytes are already waiting.
  void Relay(std::string_view recordLine);
  // Sends what is queued, in order, until the viewer's queue is full; drops it all when nobody
  // receives.
  void Flush();

  // True when lines wait for the viewer to read: the owner then watches fd() for writability
  // and calls Flush when it is.
  bool waiting() const { return !queued_.empty() && fd_ >= 0; }
  // The socket connected to the viewer, -1 when there is none.
  int fd() const { return fd_; }
  // Lines dropped since the sender was made.
  std::size_t dropped() const { return dropped_; }

  static constexpr std::size_t kMaxBatch = 64;
  static constexpr std::size_t kMaxBacklogBytes = 16 * 1024 * 1024;
  // Asked-for send buffer: datagrams in flight to the viewer are counted against it.
  static constexpr int kSendBufferBytes = 4 * 1024 * 1024;

 private:
  // Connects to the socket now at the path, when that is not the one already connected to.
  bool Connect();
  void Disconnect();
  void DropQueued();

  const std::string path_;
  int fd_ = -1;  // connected to the viewer's socket, or -1
  std::pair<dev_t, ino_t> peer_{};
  std::deque<std::string> queued_;
  std::size_t queuedBytes_ = 0;
  std::size_t dropped_ = 0;
  bool full_ = false;  // the viewer's queue refused the last send
};

}  // namespace qv
