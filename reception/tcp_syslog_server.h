#pragma once
// Syslog over TCP (RFC 6587) and, with a TLS context, over TLS (RFC 5425): listening sockets on
// one port (IPv4, and IPv6 when asked), and the connections they accept. Every frame of every
// connection reaches the owner's OnDatagram with the connection's address and port, exactly as
// a UDP datagram would; the framing of each frame is detected by CSyslogFrameReader.
//
// Event-driven like CSyslogSocket: descriptor() is an epoll descriptor that becomes readable
// whenever a listener or a connection has something; the owner's event loop then calls
// OnReceive(). Nothing is ever dropped: OnReceive reads a bounded amount from each ready
// connection and hands every frame on before returning, so a slow owner leaves data in the
// kernel and TCP slows the sender down. Per connection at most one frame (64 KiB) is buffered.
//
// At most `maxConnections` connections are open; a connection beyond them is closed at once and
// the owner gets one local message per run of refusals. A TLS handshake that fails (a bad or
// missing client certificate, a client that does not speak TLS) closes that connection and
// sends one local message; the server and the other connections go on. So does a handshake not
// done within the handshake time limit (30 s unless the constructor says otherwise), so that
// clients that connect and say nothing cannot hold the connection slots.
//
// The soft limit of open files is raised, up to the hard limit, to hold all connections.
// Single-threaded: all calls on the thread that runs OnReceive. The owner must not destroy the
// server from inside its OnDatagram or OnLocalMessage.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "reception/syslog_frame_reader.h"
#include "reception/syslog_sink.h"

namespace qv {

class CTlsServerContext;
class CTlsSession;

class CTcpSyslogServer {
 public:
  // Bytes read from one connection per readiness; also the size of the shared read buffer.
  static constexpr std::size_t kReadChunk = 64 * 1024;
  // Ready descriptors served per OnReceive, so that the event loop stays responsive.
  static constexpr int kMaxEventsPerReceive = 64;

  // Listens on `port` (0: one the kernel chooses, see boundPort()) on each of `bindAddresses`
  // (dotted IPv4 or IPv6 text; "0.0.0.0" and "::" for all addresses; an IPv6 listener takes
  // only IPv6). With `tls`, every connection speaks TLS. `owner` must outlive the server.
  CTcpSyslogServer(CSyslogSink& owner, int32_t port, const std::vector<std::string>& bindAddresses,
                   int32_t maxConnections, std::shared_ptr<CTlsServerContext> tls = nullptr,
                   std::chrono::milliseconds handshakeLimit = std::chrono::seconds(30));
  // Closes the listeners and every connection without handing on unfinished frames.
  ~CTcpSyslogServer();
  CTcpSyslogServer(const CTcpSyslogServer&) = delete;
  CTcpSyslogServer& operator=(const CTcpSyslogServer&) = delete;

  // True when every listener was bound.
  bool created() const { return error_ == 0; }
  // Why not (an errno value); 0 when created.
  int error() const { return error_; }
  int32_t port() const { return port_; }
  int32_t boundPort() const;
  // What the event loop watches for readability.
  int descriptor() const { return epoll_; }
  std::size_t connectionCount() const { return connections_.size(); }

  // Accepts waiting connections and reads what ready connections sent; returns at once when
  // nothing is waiting. A nested call returns without doing anything.
  void OnReceive();

 private:
  struct Connection;

  void Accept(int listener);
  void Serve(Connection& connection);
  bool Handshake(Connection& connection);
  void Close(int fd, bool finishFrame);
  void Deliver(const Connection& connection, std::string_view frame);
  void Watch(int fd, uint32_t events);
  void EndOverdueHandshakes();

  CSyslogSink& owner_;
  int32_t port_;
  int32_t maxConnections_;
  std::shared_ptr<CTlsServerContext> tls_;
  std::chrono::milliseconds handshakeLimit_;
  int epoll_ = -1;
  int handshakeTimer_ = -1;  // with TLS: a periodic timer that ends overdue handshakes
  int error_ = 0;
  std::vector<int> listeners_;
  bool listenersPaused_ = false;  // out of descriptors: listeners unwatched until one closes
  bool refusing_ = false;         // inside a run of refused connections (reported once)
  bool receiving_ = false;
  std::map<int, std::unique_ptr<Connection>> connections_;
  std::vector<char> buffer_;
};

}  // namespace qv
