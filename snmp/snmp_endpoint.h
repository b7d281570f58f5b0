#pragma once
// A UDP socket that sends SNMP messages to one host and port, or receives them on a bound port.
// Broadcast is allowed. The endpoint owns its socket and closes it when destroyed; it is
// movable, not copyable, and used by one thread at a time.
//
// Nothing here throws. Failures are recorded as the last error and show as a send that returns
// 0 or a receive that returns nothing.

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "snmp/ber.h"
#include "snmp/snmp_message.h"

namespace qv {

class CSnmpEndpoint {
 public:
  static constexpr size_t kDefaultBufferSize = 4096;

  // For sending to `host` (dotted IPv4 address or a name, resolved now, first IPv4 address) on
  // `port`; the socket is bound to any local address and port. Not ready when the name does not
  // resolve or the socket cannot be made.
  CSnmpEndpoint(uint16_t port, int timeoutSeconds, std::string_view host);
  // For receiving on `port` of every local address (0: a port chosen by the system). Not ready
  // when the port cannot be bound, for instance because another program holds it.
  CSnmpEndpoint(uint16_t port, int timeoutSeconds);
  ~CSnmpEndpoint();
  CSnmpEndpoint(CSnmpEndpoint&& other) noexcept;
  CSnmpEndpoint& operator=(CSnmpEndpoint&& other) noexcept;
  CSnmpEndpoint(const CSnmpEndpoint&) = delete;
  CSnmpEndpoint& operator=(const CSnmpEndpoint&) = delete;

  // The socket is bound (and, for sending, the host was found).
  bool Ready() const { return fd_ >= 0; }
  // The socket, -1 when not ready. Only for waiting on it beside other descriptors (a thread's
  // stop event); reading and writing go through Receive, Send and Reply.
  int Descriptor() const { return fd_; }

  // Encodes and sends one datagram to the host and port; the number of bytes sent, 0 when the
  // endpoint is not ready or the send failed.
  int Send(const CSnmpMessage& message);
  // Waits up to the time-out (0 or less: without limit) for a datagram, reads at most the buffer size
  // of it, remembers its source as the peer and decodes it. Nothing when no datagram came in
  // time, the read failed or the datagram does not decode (a datagram longer than the buffer is
  // cut and so does not decode).
  std::optional<CSnmpMessage> Receive();
  // Sends to the peer, the source of the last datagram received; 0 when there is none yet.
  // An endpoint has one peer: for a sending endpoint it is the host until something is
  // received, so Send and Reply are the same operation under two names.
  int Reply(const CSnmpMessage& message) { return Send(message); }

  // Replaces the receive buffer.
  void SetBufferSize(size_t size) { buffer_.assign(size, 0); }
  size_t BufferSize() const { return buffer_.size(); }

  // The peer's dotted address and port.
  std::string PeerAddress() const;
  uint16_t PeerPort() const;
  // The bound local port; 0 when not ready.
  uint16_t LocalPort() const;

  // errno of the last failed socket operation, or the resolver's EAI_* code (negative) when a
  // host name did not resolve; 0 when nothing failed.
  int LastError() const { return lastError_; }
  std::string LastErrorText() const;

 private:
  explicit CSnmpEndpoint(int timeoutSeconds);
  bool Open(uint16_t localPort);
  void Close();

  int fd_ = -1;
  int timeoutSeconds_;
  Bytes buffer_;
  sockaddr_in peer_{};
  bool hasPeer_ = false;
  int lastError_ = 0;
};

}  // namespace qv
