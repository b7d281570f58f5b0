#pragma once
// The service's engine: it owns the syslog port and does, without a window, what the windowed
// program does when it is alone. Every datagram received on "udpport" is parsed, given a host
// name when "resolve" is on, put through the rules when "RulesEnabled" is on, and, unless a rule
// discarded it, relayed to the windowed program and appended to the history. The time mark and
// the reports of the rules (database errors, the mail dialogue) take the same road without rules.
// The monitors run on their own threads and reach the engine through a private channel
// (CLocalChannel), never through a port: their findings take the road of a datagram from the
// name look-up on, with the sender, host and severity the monitor gave them.
//
// Settings are read once, when the engine is created ("udpport", "RulesEnabled", "resolve",
// "FirstRuleOnly", "historysize", "timemark", the monitor switches, the header forms "rfc5424",
// "rfc5424sd", "lenient" and "yearfix", and the receivers "ipv6", "tcpport", "tcpmaxconn", "tlsport",
// "tlscert", "tlskey", "tlsca", the viewer link "viewerport", "viewercert", "viewerkey",
// "viewerca", and for forwarding "forwardqueue", "forwardca", "forwardcert", "forwardkey"); a
// running service rereads them only when restarted. Messages arriving over TCP, TLS or IPv6 take
// the road of a UDP datagram. Every line relayed to the local viewer also goes to the remote
// viewers of the viewer link (CViewerServer), whose backfill is the history's tail; the link
// serves them on a thread of its own, so their encryption and writes do not slow reception.
//
// Two threads share the work. A CReceiveThread only drains the UDP socket into a queue of
// bounded memory (CDatagramQueue: 64 MiB; when it is full the thread stops reading and the
// kernel buffer takes the excess). The engine lives on the thread of the Qt event loop; it takes
// the queued datagrams in arrival order and parses them, runs the rules (one message at a time,
// as the rules engine requires), writes the history and relays; the TCP, TLS and IPv6 receivers,
// the time mark and the reports of the rules are handled there too, between batches, so a local
// message keeps its place among the datagrams as the engine handles them. The monitors' findings
// are taken from their channel there too, between batches, at most kMaxDatagramsPerTurn a turn.
//
// The actions that talk to the outside (mail, database, SNMP trap, programs) run on a worker
// (CActionWorker) so that they never hold reception; their reports come back to this thread.
//
// Lines are written in batches: the accepted lines of one turn (at most kMaxDatagramsPerTurn
// queued datagrams, or what one TCP read delivered) go to the history with one write and to the
// relay with one sendmmsg when the turn ends, before the engine waits for more; a local message
// writes the batch so far together with its own line. So every accepted line is in the kernel's
// hands before the engine goes idle, in the order accepted, and a crash of the process loses at
// most the batch in hand and the datagrams queued behind it, as it lost the kernel's buffer
// when one thread did everything.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/timer/long_timer.h"
#include "reception/datagram_queue.h"
#include "reception/datagram_reader.h"
#include "reception/history_files.h"
#include "reception/local_channel.h"
#include "reception/receive_thread.h"
#include "reception/relay_sender.h"
#include "reception/syslog_receivers.h"
#include "reception/syslog_sink.h"
#include "reception/syslog_socket.h"
#include "reception/stream_forwarder.h"
#include "rules/action_executor.h"
#include "rules/action_worker.h"
#include "rules/forwarder.h"
#include "rules/rules_engine.h"
#include "service/service_monitors.h"
#include "viewerlink/viewer_server.h"

namespace qv {

class CServiceEngine final : public CSyslogSink, private CForwarder {
 public:
  // Makes the executor of the actions that reach outside the rules engine; its reports go to
  // `reporter`, the engine.
  using ExecutorFactory = std::function<std::unique_ptr<CActionExecutor>(CSyslogSink& reporter)>;

  // Creates the relay sender (to the relay socket in the data root), the name cache, the
  // receive socket, the rules engine (with the executor from `makeExecutor`), the history and
  // the monitors. When the receive port cannot be bound, listening() is false and nothing else
  // was started.
  explicit CServiceEngine(const ExecutorFactory& makeExecutor);
  ~CServiceEngine() override;
  CServiceEngine(const CServiceEngine&) = delete;
  CServiceEngine& operator=(const CServiceEngine&) = delete;

  // The orderly stop: every datagram already taken from the UDP socket, and then what waits in
  // the socket's buffer (read for at most kSocketDrainBound), and every finding the monitors have
  // handed over, is parsed, put through the rules, written to the history and relayed; the TCP
  // and TLS connections are ended in order, what their clients send until they end their side
  // too (for at most kConnectionDrainBound) taking the same road; lines waiting to be forwarded
  // over TCP or TLS get kForwardBound to go, and those left are counted in a local message; the
  // actions still waiting get kStopBound to run, and those skipped after it are counted in one
  // local message. Called once the event loop has ended (and by the destructor).
  void Stop();
  static constexpr std::chrono::milliseconds kStopBound{5000};
  static constexpr std::chrono::milliseconds kSocketDrainBound{1000};
  static constexpr std::chrono::milliseconds kConnectionDrainBound{2000};
  static constexpr std::chrono::milliseconds kForwardBound{2000};

  bool listening() const { return socket_.created() && receivers_ && receivers_->failure().empty(); }
  // One line saying why the engine is not listening, for example
  // "cannot receive syslog on UDP port 514: Address already in use" (or on the TCP, TLS or
  // IPv6 receivers that the settings ask for).
  std::string failure() const;

  void OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) override;
  void OnLocalMessage(std::string_view text) override;
  // A monitor's finding, taken from the private channel: name look-up, rules, relay and history.
  void OnLocalRecord(SyslogMessage& record);

  // Queues a record line for the windowed program and for the history; both get it at the end
  // of the batch it belongs to (WriteBatch, FlushRelay).
  void Relay(const std::string& recordLine);

  // Above this many bytes of lines a batch is written before it ends, so that a batch of very
  // long lines holds bounded memory.
  static constexpr std::size_t kMaxBatchBytes = 1 << 20;
  // Queued datagrams handled per turn of the event loop, so that timers and the other receivers
  // get their turn during a flood (about 5 ms of work).
  static constexpr std::size_t kMaxDatagramsPerTurn = 1024;

 private:
  void Forward(std::string_view dottedAddress, const SyslogMessage& message) override;
  std::unique_ptr<CActionExecutor> MakeActions(const ExecutorFactory& makeExecutor);
  // Rules, then relay and history unless a rule discarded the record.
  void Accept(SyslogMessage& record);
  // Hands the waiting findings of the monitors to OnLocalRecord (at most a turn's worth), and
  // says when some were dropped; true when more wait.
  bool DeliverLocalRecords();
  // Appends the lines of the batch to the history with one write; a history that fails or
  // recovers is reported by a local message.
  void WriteBatch();
  // Sends what the relay holds; while lines wait for the viewer, watches for room. The remote
  // viewers are written too.
  void FlushRelay();
  // Opens the viewer link when "viewerport" asks for it; its trouble is a local message.
  void StartViewerLink();

  CRelaySender relay_;
  const bool rulesEnabled_;
  CDatagramReader reader_;  // header forms and "resolve" as read at creation
  CSyslogSocket socket_;
  CDatagramQueue queue_;  // filled by receiveThread_, emptied here
  std::optional<CReceiveThread> receiveThread_;  // stopped before the socket closes
  std::optional<CSyslogReceivers> receivers_;  // IPv6, TCP and TLS, as the settings ask
  CStreamForwarder streamForwarder_;  // rule values "tcp://host:port" and "tls://host:port"
  QObject reportsContext_;  // worker reports are delivered through queued calls on it
  CActionWorker* actions_;  // owned by rules_
  CRulesEngine rules_;
  std::optional<CHistoryFiles> history_;  // only while listening: choosing files may delete one
  std::optional<CViewerServer> viewers_;   // remote viewers, when "viewerport" is set
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
  std::unique_ptr<QSocketNotifier> relayWritable_;
  CLongTimer timeMark_;
  CLocalChannel channel_;  // the monitors' findings; outlives them
  QTimer heldBackReports_;  // lets the throttles say what they held back
  std::unique_ptr<CServiceMonitors> monitors_;
  bool reportingHistory_ = false;
  bool stopped_ = false;
  std::string batch_;  // the record lines accepted since the batch began, in order
};

}  // namespace qv
