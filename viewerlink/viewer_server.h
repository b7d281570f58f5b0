#pragma once
// The service's side of the viewer link (the protocol is in viewer_protocol.h): a TLS listener
// on "viewerport" and the viewers it serves. The owner hands every record it accepts to
// Publish, in order, and calls Flush when its turn ends; each streaming viewer gets the line in
// its own bounded queue (CViewerQueue), so a slow or stalled viewer costs the service a copy of
// the line and nothing else: writes never block, and a full queue drops that viewer's oldest
// lines. The backfill a viewer asks for is taken from the owner's BackfillSource (the history's
// last lines) at the moment its request is read; every line published after that moment is
// queued for it, so the two parts meet without a gap or a repeat.
//
// Refusals are local messages naming the client's address, each kind at most once a minute
// (CReportThrottle) with the count held back: a failed handshake (no certificate, one from
// another CA, plain TCP), a bad or missing request, too many viewers or connections.
//
// Event-driven like CTcpSyslogServer: descriptor() (an epoll descriptor) becomes readable when
// a connection wants attention or the server's timer runs (handshake deadlines, reports held
// back); the owner's event loop then calls OnReceive. Single-threaded; the owner outlives it and
// must not destroy it from inside a report.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/report/report_throttle.h"
#include "reception/syslog_sink.h"

namespace qv {

class CTlsServerContext;

// "viewerport" (0: off), "viewercert", "viewerkey", "viewerca" and "maxsize", read once.
struct ViewerLinkSettings {
  int32_t port = 0;
  std::string certificate, key, ca;
  uint32_t maxBackfill = 100000;
  static ViewerLinkSettings Read();
};

class CViewerServer {
 public:
  // The last `lines` record lines of the history, oldest first, each ending in CR LF.
  using BackfillSource = std::function<std::string(std::size_t lines)>;

  // Bytes written to one viewer per readiness or Flush, so one fast viewer cannot hold the loop.
  static constexpr std::size_t kWriteBudget = 1024 * 1024;
  // Connections not yet streaming (handshake, request) beside the viewers served.
  static constexpr std::size_t kMaxWaiting = 16;
  static constexpr std::chrono::seconds kRequestTime{10};

  // Listens on `settings.port` (0 in tests: a port the kernel chooses, see boundPort()) on all
  // IPv4 addresses. Empty certificate and key mean the service's own, empty CA the data root's
  // viewers' CA (made when missing). On trouble failure() says why and nothing listens.
  CViewerServer(CSyslogSink& reporter, const ViewerLinkSettings& settings, BackfillSource backfill);
  ~CViewerServer();
  CViewerServer(const CViewerServer&) = delete;
  CViewerServer& operator=(const CViewerServer&) = delete;

  // Empty when listening; else one line such as
  // "Viewer link: cannot serve viewers on TCP port 6514: Address already in use".
  const std::string& failure() const { return failure_; }
  int descriptor() const { return epoll_; }
  int32_t boundPort() const;
  std::size_t viewerCount() const { return streaming_; }

  void OnReceive();
  // Queues `recordLine` (CR LF or not) for every viewer that streams.
  void Publish(std::string_view recordLine);
  // Sends what the viewers' queues hold, as far as their sockets take it: within kFlushDelay
  // (lines published meanwhile go out together, in fewer and larger writes and TLS records), or
  // with `now` at once.
  void Flush(bool now = false);
  static constexpr std::chrono::milliseconds kFlushDelay{10};

 private:
  struct Connection;

  void Accept();
  void Serve(Connection& connection, uint32_t events);
  bool ReadRequest(Connection& connection);
  // Writes the connection's data; false when the connection was closed.
  bool Send(Connection& connection);
  void Close(int fd);
  void Watch(const Connection& connection, bool writable);
  void OnTimer();
  void SendAll();
  void Report(const std::string& kind, const std::string& text);

  CSyslogSink& reporter_;
  BackfillSource backfill_;
  uint32_t maxBackfill_;
  std::shared_ptr<CTlsServerContext> tls_;
  int epoll_ = -1;
  int listener_ = -1;
  int timer_ = -1;
  int flushTimer_ = -1;  // one-shot, armed by Flush
  bool flushArmed_ = false;
  std::string failure_;
  std::map<int, std::unique_ptr<Connection>> connections_;
  std::size_t streaming_ = 0;
  CReportThrottle reports_;
  std::unordered_map<std::string, std::string> heldBack_;  // by kind: the last text held back
  std::string frame_;  // the frame being published, its memory kept
};

}  // namespace qv
