#pragma once
// The windowed program's end of the relay: a Unix datagram socket bound at the relay path, from
// which the records the service relays are read in batches.
//
// Bind makes the socket file with mode 0600, or 0660 when its folder is shared with the group
// (the data root after `dunmir add`). A socket file left behind by a viewer that crashed (nobody
// receives on it) is replaced; one that a running viewer still holds is never taken over, and
// neither is a file that is not a socket: Bind then fails and says why.
//
// The socket is non-blocking; the owner watches fd() for readability (on a thread of its own if
// it likes: the kernel queues only net.unix.max_dgram_qlen datagrams, 512 by default) and calls
// ReceiveBatch until it returns 0. Not locked: one thread uses an object at a time.

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace qv {

class CRelayReceiver {
 public:
  // The most datagrams one ReceiveBatch reads.
  static constexpr std::size_t kMaxBatch = 64;
  // The longest record line received whole: a 65535-byte message whose every byte became a
  // two-byte line-break marker, and the fields before it. Longer datagrams are dropped.
  static constexpr std::size_t kMaxDatagram = 2 * 65535 + 1024;
  // Asked-for receive buffer, so that bursts wait in the kernel rather than being refused.
  static constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

  CRelayReceiver() = default;
  ~CRelayReceiver();
  CRelayReceiver(const CRelayReceiver&) = delete;
  CRelayReceiver& operator=(const CRelayReceiver&) = delete;

  // Binds the socket at `path` (closing one bound before). On failure returns false with one
  // line in *error naming the path and the cause, for example
  // "/var/lib/quorvel/relay is held by another running viewer".
  bool Bind(const std::string& path, std::string* error);

  // The socket's descriptor, -1 when not bound.
  int fd() const { return fd_; }

  // Appends the text of each waiting datagram to `out`, at most `max` (and kMaxBatch) of them,
  // without waiting; returns how many were appended.
  std::size_t ReceiveBatch(std::vector<std::string>& out, std::size_t max);

  // Closes the socket and removes the socket file this object made. Safe to call twice.
  void Close();

 private:
  int fd_ = -1;
  std::string path_;  // the file this object made, and its identity
  std::pair<dev_t, ino_t> made_{};
  // One buffer per batch slot; pages are only touched by the datagrams written into them.
  std::vector<std::unique_ptr<char[]>> buffers_;
};

}  // namespace qv
