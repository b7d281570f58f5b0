#pragma once
// The UDP socket every message enters by, and from which records are forwarded to other syslog
// servers.
//
// CSyslogSocket is a non-blocking datagram socket: IPv4, or IPv6 only when bound to an IPv6
// address. It does no waiting of its own: the owner's event loop watches descriptor() for
// readability (a QSocketNotifier in both programs) and calls OnReceive(), which hands each
// waiting datagram to the owner's OnDatagram, in arrival order, each one completely before the
// next. The socket belongs to the thread that calls OnReceive; it is not locked. The service
// instead has a CReceiveThread drain descriptor() on a thread of its own (OnReceive is then
// never called); Forward may send from the owner's thread meanwhile, as a send and a receive on
// one socket do not disturb each other.
//
// The receive buffer is asked for 4 MiB so that a burst survives a busy receiving thread
// (131072 bytes hold only about 150 small datagrams on Linux, about a millisecond at full rate).
// Unprivileged, the kernel caps the request at net.core.rmem_max; the outcome is not checked.
//
// Errors are quiet: a socket that cannot be created or bound has created() false and does
// nothing; failed receives and sends are ignored.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reception/syslog_sink.h"

namespace qv {

struct SyslogMessage;

// The ending of a forwarding value that asks for RFC 5424 lines, over UDP, TCP and TLS alike:
// the sender's time stamp (with its year) and host reach the next server unchanged.
inline constexpr std::string_view kRfc5424Suffix = "#5424";

class CSyslogSocket {
 public:
  // Where forwarded records go, whatever port this system listens on.
  static constexpr int32_t kForwardPort = 514;
  // The largest datagram handed on; longer ones cannot arrive over IPv4.
  static constexpr std::size_t kMaxDatagram = 65535;
  // Asked-for receive buffer; never less than the 131072 bytes that hold a small burst.
  static constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;
  // At most this many datagrams are handed on per OnReceive, so that one busy sender cannot
  // starve the rest of the event loop; the descriptor stays readable for the remainder.
  static constexpr int kMaxDatagramsPerReceive = 64;

  // Binds `port` (0: a port the kernel chooses, see boundPort()) on `bindAddress`, a dotted IPv4
  // address, or on all local IPv4 addresses when it is empty; an IPv6 text ("::" for all) makes
  // an IPv6 socket, whose senders are handed on in IPv6 text. `owner` is not owned and must outlive
  // the socket. A port outside 0..65535 or an address that is not dotted fails creation.
  CSyslogSocket(CSyslogSink& owner, int32_t port, std::string_view bindAddress = {});
  // Closes the socket. It may be destroyed from inside the owner's OnDatagram: the datagrams
  // read but not yet handed on are then dropped.
  ~CSyslogSocket();
  CSyslogSocket(const CSyslogSocket&) = delete;
  CSyslogSocket& operator=(const CSyslogSocket&) = delete;

  // True when the socket was created and bound. The owner destroys a socket that was not.
  bool created() const { return fd_ >= 0; }
  // Why creation failed (an errno value such as EADDRINUSE); 0 when created.
  int error() const { return error_; }
  // The port it was asked to bind.
  int32_t port() const { return port_; }
  // The port it is bound to (differs from port() only for port 0); 0 when not created.
  int32_t boundPort() const;
  // What the event loop watches for readability; -1 when not created.
  int descriptor() const { return fd_; }

  // The read notification: hands every waiting datagram (at most kMaxDatagramsPerReceive) to
  // the owner's OnDatagram with the sender's dotted address, its port and the text up to the
  // first zero byte; the text lives in the socket, only until OnDatagram returns or destroys
  // the socket. Returns at once when nothing is waiting. A nested call (from an event loop
  // that the owner runs inside OnDatagram, a modal dialog say) returns without reading, so
  // that datagrams stay in order; the event loop should not watch the descriptor meanwhile.
  // An exception from OnDatagram passes on; datagrams read with that one but not yet handed
  // on are dropped, and the socket stays usable.
  void OnReceive();

  // Sends the record's syslog line (no line end) as one datagram from this socket to port 514
  // of `dottedAddress`; when the value ends in kRfc5424Suffix ("10.0.0.5#5424"), its RFC 5424
  // line (record_formats.h) to the address before it. The address is converted as inet_addr
  // converts it: a name is not looked up, and the send fails without report. Nothing is checked
  // or reported.
  void Forward(std::string_view dottedAddress, const SyslogMessage& record);

 private:
  // Reads up to `wanted` waiting datagrams into the slots; returns how many (0 when none).
  int ReadBatch(int wanted);

  CSyslogSink& owner_;
  int32_t port_;
  int fd_ = -1;
  int error_ = 0;
  bool receiving_ = false;  // inside OnReceive: a nested call must not read
  // Expires with the object, which tells OnReceive that the owner destroyed it meanwhile.
  std::shared_ptr<const int> lifetime_ = std::make_shared<const int>(0);

  // One batch of received datagrams: each slot holds a whole datagram and its zero.
  std::vector<char> buffers_;
  std::vector<sockaddr_storage> senders_;
  std::vector<unsigned> lengths_;
};

}  // namespace qv
