#pragma once
// The service's side of the viewer link (the protocol is in viewer_protocol.h): a TLS listener
// on "viewerport" and the viewers it serves. The owner hands every record it accepts to
// Publish, in order, and calls Flush when its turn ends; each streaming viewer gets the line in
// its own bounded queue (CViewerQueue), so a slow or stalled viewer costs the service a copy of
// the line and nothing else: writes never block, and a full queue drops that viewer's oldest
// lines.
//
// Two threads. Publish and Flush only collect the lines on the owner's thread and hand them
// over; the link's own thread serves the connections (handshakes, requests, each viewer's queue,
// encryption and writes), so the work for many viewers never slows the owner's reception. The
// hand-over holds at most kMaxHandOverBytes: lines beyond it are counted and every viewer is
// told of them in its marker, as when its own queue is full.
//
// What needs the owner comes back to it through descriptor(), an event descriptor that becomes
// readable when the link has a report to say or a viewer asked for its backfill; the owner's
// event loop then calls OnReceive, which says the reports through the owner's sink and takes
// the backfill from the owner's BackfillSource (the history's last lines). Every line handed
// over before that moment is in the history, and the viewer's stream starts with the lines
// handed over after it, so the two parts meet without a gap or a repeat.
//
// Refusals are local messages naming the client's address, each kind at most once a minute
// (CReportThrottle) with the count held back: a failed handshake (no certificate, one from
// another CA, plain TCP), a bad or missing request, too many viewers or connections.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

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
  // Lines published and not yet taken by the link's thread.
  static constexpr std::size_t kMaxHandOverBytes = 32 * 1024 * 1024;
  // Lines published meanwhile go out together, in fewer and larger writes and TLS records.
  static constexpr std::chrono::milliseconds kFlushDelay{10};

  // Listens on `settings.port` (0 in tests: a port the kernel chooses, see boundPort()) on all
  // IPv4 addresses, and starts the link's thread. Empty certificate and key mean the service's
  // own, empty CA the data root's viewers' CA (made when missing). On trouble failure() says why
  // and nothing listens.
  CViewerServer(CSyslogSink& reporter, const ViewerLinkSettings& settings, BackfillSource backfill);
  // Hands over what was published, lets the link's thread send what the sockets take without
  // waiting, and ends it.
  ~CViewerServer();
  CViewerServer(const CViewerServer&) = delete;
  CViewerServer& operator=(const CViewerServer&) = delete;

  // Empty when listening; else one line such as
  // "Viewer link: cannot serve viewers on TCP port 6514: Address already in use".
  const std::string& failure() const { return failure_; }
  // Readable when OnReceive has work.
  int descriptor() const { return ownerWake_; }
  int32_t boundPort() const;

  // The owner's thread: says the link's reports and answers the viewers' backfill requests.
  void OnReceive();
  // The owner's thread: queues `recordLine` (CR LF or not) for every viewer that streams.
  void Publish(std::string_view recordLine);
  // The owner's thread: hands the published lines to the link's thread, which sends them within
  // kFlushDelay, or with `now` at once.
  void Flush(bool now = false);

 private:
  struct Connection;
  // What happened after the first `position` lines handed over, in the order it happened: a
  // viewer's stream begins (its backfill, then the lines that follow), or `dropped` lines did
  // not fit the hand-over and are told to the viewers streaming then.
  struct Mark {
    std::size_t position;
    uint64_t connection = 0;  // the viewer that starts; 0 for lines dropped
    std::string tail;
    uint64_t dropped = 0;
  };
  // From the owner's thread to the link's: guarded by mutex_.
  struct HandOver {
    std::string lines;             // record lines one after the other
    std::vector<uint32_t> sizes;   // of each
    std::vector<Mark> marks;       // in the order they happened
    bool sendNow = false;
    bool stop = false;
    bool woken = false;  // the link's thread was told of this hand-over
    void Clear();
  };
  struct BackfillRequest {
    uint64_t connection;
    std::size_t lines;
  };

  // On the owner's thread.
  void HandOverLines(HandOver& into);
  void Wake(int descriptor);

  // On the link's thread.
  void Run();
  void TakeHandOver();
  void StartStreaming(Mark& start);
  void Accept();
  void Serve(Connection& connection, uint32_t events);
  bool ReadRequest(Connection& connection);
  // Writes the connection's data; false when the connection was closed.
  bool Send(Connection& connection);
  void Close(int fd);
  void Watch(const Connection& connection, bool writable);
  void OnTimer();
  void ArmFlush();
  void SendAll();
  void Report(const std::string& kind, const std::string& text);
  void Say(std::string text);

  CSyslogSink& reporter_;
  BackfillSource backfill_;
  uint32_t maxBackfill_;
  std::shared_ptr<CTlsServerContext> tls_;
  int epoll_ = -1;
  int listener_ = -1;
  int timer_ = -1;
  int flushTimer_ = -1;  // one-shot, armed by ArmFlush
  int threadWake_ = -1;  // the owner wakes the link's thread
  int ownerWake_ = -1;   // the link's thread wakes the owner
  std::string failure_;

  // The owner's thread only.
  HandOver outgoing_;  // published since the last hand-over

  std::mutex mutex_;
  HandOver handOver_;
  std::vector<BackfillRequest> requests_;
  std::vector<std::string> toSay_;

  // Viewers that stream or whose start is on its way: the owner publishes only while there are.
  std::atomic<std::size_t> started_{0};

  // The link's thread only.
  HandOver taken_;  // the last hand-over taken, its memory kept
  bool flushArmed_ = false;
  std::map<int, std::unique_ptr<Connection>> connections_;
  uint64_t nextConnection_ = 1;
  std::size_t served_ = 0;  // streaming or waiting for their backfill
  CReportThrottle reports_;
  std::unordered_map<std::string, std::string> heldBack_;  // by kind: the last text held back
  std::string frame_;  // the frame being published, its memory kept

  std::thread thread_;
};

}  // namespace qv
