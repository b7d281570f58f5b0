#pragma once
// Syslog over TCP (RFC 6587) and, with a TLS context, over TLS (RFC 5425): listening sockets on
// one port (IPv4, and IPv6 when asked), and the connections they accept. Every frame of every
// connection reaches the owner's OnDatagram with the connection's address and port, exactly as
// a UDP datagram would; the framing of each frame is detected by CSyslogFrameReader.
//
// Event-driven like CSyslogSocket: descriptor() is an epoll descriptor that becomes readable
// whenever a listener or a connection has something, and at least once a second for the
// server's own timer; the owner's event loop then calls OnReceive(). Nothing is ever dropped:
// OnReceive reads a bounded amount from each ready connection and hands every frame on before
// returning, so a slow owner leaves data in the kernel and TCP slows the sender down. Per
// connection at most one frame (64 KiB) is buffered, and a buffer grown past 4 KiB is given
// back once no frame is left half read, so idle connections hold little memory.
//
// Connections cannot hold the server (ConnectionLimits): one that sends nothing for the idle
// time is closed (a frame it began is handed on); one address holds at most `perAddress`
// connections; when `maxConnections` are open, the connection idle for longest (at least
// `evictableAfter`) is closed to admit the new one, which is refused only when none is idle; a
// TLS handshake not done within `handshake` is abandoned. When the process runs out of
// descriptors, a spare descriptor kept for the purpose lets the server take the waiting
// connection and close it at once, so the listener stays watched and serves again as soon as
// descriptors are free.
//
// Each kind of trouble (a refused or evicted connection, a failed handshake, a lack of
// descriptors, connections closed for idling) is told to the owner as a local message at most
// once a minute, naming the server ("TCP syslog" or "TLS syslog") and counting what was held
// back; a count held back is told once its minute has passed, even when nothing follows.
//
// Single-threaded: all calls on the thread that runs OnReceive. The owner must not destroy the
// server from inside its OnDatagram or OnLocalMessage.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/report/report_throttle.h"

#include "reception/syslog_frame_reader.h"
#include "reception/syslog_sink.h"

namespace qv {

class CTlsServerContext;
class CTlsSession;

// How long and how many connections may stay ("tcpidle", "tcpperaddr", "tcpmaxconn").
struct ConnectionLimits {
  int32_t maxConnections = 1000;
  int32_t perAddress = 50;
  std::chrono::milliseconds idle = std::chrono::seconds(300);  // 0: never
  std::chrono::milliseconds handshake = std::chrono::seconds(10);
  // A full table evicts only a connection silent for at least this long, so that senders
  // that are connecting or talking are never pushed out by a flood of new connections.
  std::chrono::milliseconds evictableAfter = std::chrono::seconds(1);
};

class CTcpSyslogServer {
 public:
  // Bytes read from one connection per readiness; also the size of the shared read buffer.
  static constexpr std::size_t kReadChunk = 64 * 1024;
  // Ready descriptors served per OnReceive, so that the event loop stays responsive.
  static constexpr int kMaxEventsPerReceive = 64;

  // Descriptors kept free beside the connections, for files, sockets and the rules' actions.
  static constexpr int64_t kDescriptorReserve = 128;
  // Raises the soft limit of open files (up to the hard limit) to `connections` plus the
  // reserve. Once for the process, with the connections of all its servers; returns the
  // limit now in force.
  static int64_t ReserveDescriptors(int64_t connections);

  // Listens on `port` (0: one the kernel chooses, see boundPort()) on each of `bindAddresses`
  // (dotted IPv4 or IPv6 text; "0.0.0.0" and "::" for all addresses; an IPv6 listener takes
  // only IPv6). With `tls`, every connection speaks TLS. `owner` must outlive the server.
  CTcpSyslogServer(CSyslogSink& owner, int32_t port, const std::vector<std::string>& bindAddresses,
                   const ConnectionLimits& limits, std::shared_ptr<CTlsServerContext> tls = nullptr);
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

  // The end of an orderly stop, for several servers at once: their listeners close (the
  // connections waiting are taken first), every connection is told the end (a FIN, or TLS
  // close_notify once its handshake is done) and read until its client ends it too or
  // `deadline` passes, every frame handed on; then the rest are closed. A client that stops
  // sending when told, as CStreamForwarder does, so loses nothing it sent. The servers take no
  // connection after it. Null entries are skipped.
  static void Drain(const std::vector<CTcpSyslogServer*>& servers, std::chrono::steady_clock::time_point deadline);

 private:
  struct Connection;

  void Accept(int listener);
  void StopListening();
  // Sends the end to the established connections not yet told.
  void TellTheEnd();
  // Out of descriptors: takes waiting connections through the spare descriptor and closes them.
  void Shed(int listener, int error);
  bool Admit(const std::string& address, int32_t port);
  void Serve(Connection& connection);
  bool Handshake(Connection& connection);
  void Close(int fd, bool finishFrame);
  void Deliver(const Connection& connection, std::string_view frame);
  void Watch(int fd, uint32_t events);
  void PauseListeners();
  void OnTimer();
  // Tells the owner `text` unless a report of `kind` was made within the last minute.
  void Report(const std::string& kind, std::string text);
  std::string Name() const;

  CSyslogSink& owner_;
  int32_t port_;
  ConnectionLimits limits_;
  std::shared_ptr<CTlsServerContext> tls_;
  int epoll_ = -1;
  int timer_ = -1;  // periodic: idle connections, overdue handshakes, reports held back
  int spare_ = -1;  // given up to take a connection when descriptors run out
  int error_ = 0;
  std::vector<int> listeners_;
  bool listenersPaused_ = false;  // unwatched until a descriptor is free or the timer runs
  bool receiving_ = false;
  std::map<int, std::unique_ptr<Connection>> connections_;
  std::unordered_map<std::string, int32_t> perAddress_;  // open connections by address
  CReportThrottle reports_;
  std::unordered_map<std::string, std::string> lastReport_;  // by kind, for counts held back
  std::vector<char> buffer_;
};

}  // namespace qv
