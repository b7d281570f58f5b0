#pragma once
// The windowed program's document: the message store and the hub of reception.
//
// Listening has three modes. Alone (the service not running) the document binds "udpport",
// parses every datagram, looks names up when "resolve" is on, runs the rules, stores the record
// and appends it to the history, and runs the monitors and the time mark (the monitors' findings
// come by a private channel, CLocalChannel, and take the road of a datagram from the name
// look-up on, with the sender, host and severity the monitor gave them). With the service
// running it binds the relay socket <data root>/relay instead and stores each relayed record
// line as it stands: no rules, no name look-up, no history, no monitors. Or it does not listen.
// The relay socket is drained on a thread of the document's own, because the kernel queues only
// net.unix.max_dgram_qlen datagrams (512 on most systems); the records reach the store on the
// user-interface thread, in order, in batches.
//
// Settings read when the document is created: "maxsize" (again whenever the store is emptied;
// 0 or negative means the default 100000), "historysize", "RulesEnabled", "FirstRuleOnly" and
// "resolve". "udpport" is read by each status update, "promptforsave" when closing; the header
// forms ("rfc5424", "lenient", "yearfix", "rfc5424sd") and the TCP, TLS and IPv6 receivers'
// settings each time it starts listening alone, so that apply settings takes them up.
//
// The frame (CDocFrame) is not owned and may be absent: then nothing is told and the document
// still stores and listens (tests, benchmarks). Everything but the relay's draining thread runs
// on the thread that created the document, which must run a Qt event loop to receive.
//
// A port that cannot be used, or a relay socket that cannot be bound, leaves the document not
// listening and is said once (ReportListenProblem); file errors end an operation with what was
// done so far.
//
// The actions that talk to the outside (mail, database, SNMP trap, programs) run on a worker
// (CActionWorker), so that they never hold the user-interface thread; their reports come back
// to it as local messages. When the document goes, they get CActionWorker's bound (kStopBound)
// to finish, and one local message in the history counts those skipped.

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/message/record_formats.h"
#include "core/message/syslog_message.h"
#include "core/report/report_throttle.h"
#include "reception/datagram_reader.h"
#include "reception/syslog_sink.h"
#include "rules/action_executor.h"
#include "rules/action_worker.h"
#include "rules/forwarder.h"
#include "rules/rule.h"
#include "rules/rules_engine.h"
#include "ui/remote/remote_reception.h"
#include "ui/store/doc_frame.h"
#include "ui/store/message_store.h"
#include "ui/store/service_access.h"

class QSocketNotifier;

namespace qv {

class CHistoryFiles;
class CLocalChannel;
class CMonitorSet;
class CRelayReception;
class CSyslogReceivers;
class CSyslogSocket;
class CStreamForwarder;

class CQuorvelDoc : public QObject, public CSyslogSink, private CForwarder {
  Q_OBJECT

 public:
  // Makes the executor of the actions that reach outside the rules engine (message boxes, mail,
  // programs...); an empty factory means rules only highlight, discard and modify.
  using ExecutorFactory = std::function<std::unique_ptr<CActionExecutor>(CSyslogSink& reporter)>;

  static constexpr const char* kTimeMark = "-----Time Mark-----";
  static constexpr std::chrono::milliseconds kStopBound{5000};
  static constexpr std::chrono::milliseconds kForwardBound{2000};
  // Sort keys of SortBy.
  enum SortKey { kSortAddress = 0, kSortFacility, kSortHostName, kSortMessage, kSortTimeReceived, kSortTimeSent,
                 kSortSeverity };

  // `service` null means the real service (CSystemServiceAccess). Asks it once whether the
  // service runs. Nothing listens until StartServer.
  explicit CQuorvelDoc(const ExecutorFactory& makeExecutor = {}, std::unique_ptr<CServiceAccess> service = nullptr,
                       QObject* parent = nullptr);
  ~CQuorvelDoc() override;
  CQuorvelDoc(const CQuorvelDoc&) = delete;
  CQuorvelDoc& operator=(const CQuorvelDoc&) = delete;

  // The frame to tell; null for none. Not owned; it must outlive the document or be detached.
  void SetFrame(CDocFrame* frame) { frame_ = frame; }
  CServiceAccess& Service() { return *service_; }

  // --- Reception (CSyslogSink) ---
  // A datagram received on "udpport": line feeds after the first character become spaces, then
  // parse, name look-up, rules (unless the service runs), store with refresh, history (unless
  // the service runs).
  void OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) override;
  // A message made here (time mark, reports of the rules): facility syslog, severity debug,
  // host "localhost", stored with refresh and appended to the history unless the service runs.
  void OnLocalMessage(std::string_view text) override;
  // A monitor's finding, taken from the private channel: as OnDatagram from the name look-up on.
  void OnLocalRecord(SyslogMessage& record);
  // A record line relayed by the service (without CR LF): read as it stands and stored.
  // Returns whether the shown list grew.
  bool OnRelayedLine(std::string_view recordLine, bool refresh = true);

  // What the view does at its first update, once per run: StartServer("udpport") when
  // "startserver" (default 1) is on, ReloadRules, and LoadHistory when "loadhistory" (default 1)
  // is on.
  void StartReception();

  // --- Store ---
  // Stores a record (see CMessageStore::Add), tells the filter tree what is new, marks the
  // document modified and, when `refresh` is set and the shown list grew, asks for a refresh.
  void AddMessage(SyslogMessage record, bool refresh);
  // The message at a position of the shown list, or at a position of all (oldest first); an
  // empty record outside the list.
  SyslogMessage GetMessage(ShownPosition position) const;
  SyslogMessage GetStoredMessage(int position) const;
  int GetShownCount() const { return store_.shownCount(); }
  bool IsFilterShown() const { return store_.filterShown(); }
  const CMessageStore& Store() const { return store_; }

  // Shows the messages that `filter` matches (rebuilt from all); the selected message stays
  // selected when it matches.
  void ApplyFilter(const CRule& filter);
  void ShowAll();
  // The quick filter's text ("" for none), which narrows whatever the tree's filter shows (see
  // CMessageStore::SetQuickText); the selected message stays selected when it passes.
  void SetQuickFilter(const std::string& text);
  // Moves the shown time window's lower bound to `low` (see CMessageStore::MoveTimeWindow) and
  // updates the views when messages left; the selected message stays selected while it is
  // shown. False when the filter shown is no window that moves.
  bool MoveTimeWindow(int32_t low);
  // Sorts the shown list by a key (0..6), ascending the first time, reversed each time after.
  void SortBy(int key);
  // Flips the highlight of the shown message at `position` (and of the same message in all).
  void ToggleHighlight(ShownPosition position);

  // --- Remote service ---
  // Follows a remote service through the viewer link instead of listening here: listening
  // stops (no monitors, rules or history of its own) and the records the service sends, its
  // backfill and then the live ones, are stored like relayed records. The status text follows
  // the link ("Connected to host:port", or why not and when it is tried again). A service whose
  // certificate the file's CA did not sign is told once by remoteUntrusted, with its
  // fingerprint; connecting again with it pinned trusts it.
  void ConnectRemote(const RemoteTarget& target);
  // Ends the link and listens again as at start-up ("startserver").
  void DisconnectRemote();
  bool IsRemote() const { return remote_ != nullptr; }
  const CRemoteReception* Remote() const { return remote_.get(); }

  // --- Listening ---
  // Starts listening: on the relay when the service runs (no monitors), else on `port` with
  // the monitors switched on and the time mark. Returns whether it listens; never while
  // following a remote service.
  bool StartServer(int32_t port);
  // Stops listening, the monitors and the time mark; then UpdateStatus when asked.
  void StopServer(bool updateStatus);
  // Asks whether the service runs, shows one of "Service Listening on port %d, UI active",
  // "UI Listening on port %d", "Service Listening on port %d, UI not active" and "Service and
  // UI Server not listening", and returns whether the document listens.
  bool UpdateStatus();
  // The UDP port listened on; 0 when not listening or listening on the relay.
  int32_t GetListenPort() const;
  bool IsListeningOnRelay() const;
  // Says why the document does not receive: a local message and the status tip, once for the
  // same text in a row. "" clears the tip (done when listening starts).
  void ReportListenProblem(const std::string& problem);
  // Whether the service ran when last asked (creation, StartServer, UpdateStatus).
  bool IsServiceRunning() const { return serviceRunning_; }

  // --- Rules ---
  // Reads the rules again, forwarding through the listening socket (or none).
  void ReloadRules();
  CRulesEngine& RulesEngine() { return rules_; }
  bool RulesEnabled() const { return rulesEnabled_; }
  void SetRulesEnabled(bool enabled) { rulesEnabled_ = enabled; }
  void SetResolveNames(bool resolve) { reader_.SetResolveNames(resolve); }
  void SetHistoryLimitKB(int32_t kilobytes);

  // --- Files ---
  // Writes every shown message, in shown order, in `format` (record_formats.h): by default its
  // syslog line and a line feed; a CSV file begins with its header row. False when the file
  // could not be written completely.
  bool ExportFile(const std::string& path, RecordFormat format = RecordFormat::kSyslogLine);
  // Adds every line of the file (syslog lines with time received = time sent, record lines)
  // without refresh each, then asks for one refresh. False when it could not be opened.
  bool ImportFile(const std::string& path);
  // Imports the two history files, older first, and disables "&Load History" until emptied.
  // A history file that is not a regular file of this user with one link is not read; a local
  // message names it and says why.
  void LoadHistory();
  // Deletes the history files; the store is not touched.
  void ClearHistory();

  // --- Document ---
  // Emptying: both lists, the indexes, the name cache; "maxsize" read again; the title becomes
  // the current UTC time ("%Y_%b_%d_%H-%M-%S"); the filter tree forgets; "&Load History" is
  // enabled; all is shown. Skipped while dropped files are opened after the first.
  void DeleteContents();
  // File New: emptying, no path, unmodified.
  void NewDocument();
  // File Open: emptying, then every line of the file (syslog lines with time received = time
  // sent, record lines) stored without wrapping the ring. False when it could not be opened.
  bool OpenDocument(const std::string& path);
  // File Save: every message of all, oldest first, as its record line. False on any write error.
  bool SaveDocument(const std::string& path);
  // Files dropped on the frame: the first replaces the store, the others are added to it.
  void OpenDroppedFiles(const std::vector<std::string>& paths);

  // Modified by what the user changed that a save keeps: imports and highlights, not arrivals.
  bool IsModified() const { return modified_; }
  void SetModifiedFlag(bool modified);
  // Whether the frame should ask to save before the document is closed or replaced: never when
  // "promptforsave" (default 0) is off, which also marks the document unmodified.
  bool SaveModifiedQuestion();
  const std::string& Title() const { return title_; }
  const std::string& PathName() const { return pathName_; }

 signals:
  void titleChanged(const QString& title);
  void modifiedChanged(bool modified);
  // The message at a shown position changed in place (its highlight).
  void shownMessageChanged(qv::ShownPosition position);
  // The remote service at "host:port" is not trusted; `fingerprint` is its certificate's SHA-256.
  void remoteUntrusted(const QString& address, const QString& fingerprint);

 private:
  void Forward(std::string_view dottedAddress, const SyslogMessage& message) override;
  // Returns whether the shown list grew.
  bool AddToStore(SyslogMessage& record, bool refresh);
  // Rules (unless the service runs), store with refresh, history (unless the service runs).
  void Accept(SyslogMessage& record);
  // Hands the waiting findings of the monitors to OnLocalRecord, and says when some were dropped.
  void DeliverLocalRecords();
  void AddRelayedBatch();
  // Adds the record lines `take` hands over, a turn's worth at most, with one refresh; true when
  // more wait.
  bool AddTakenLines(const std::function<bool(std::vector<std::string>&, std::size_t)>& take);
  // Says, at most once a minute with the count, lines the relay or the remote link dropped while
  // the window did not take them.
  void SayDroppedLines(uint64_t dropped);
  // Takes what the remote link brought and follows its state.
  void OnRemoteWake();
  bool ReadFile(const std::string& path, bool intoRing);
  void ReadLines(std::istream& in, bool intoRing);
  void SetTitle(std::string title);
  void TellNovelty(const CMessageStore::Novelty& novelty, const SyslogMessage& record);
  // Listens on `port`; returns "" or why (not) all of it can be received (ReportListenProblem).
  std::string StartUdp(int32_t port);
  std::unique_ptr<CActionExecutor> MakeActions(const ExecutorFactory& makeExecutor);
  // Gives the lines waiting to be forwarded over TCP or TLS kForwardBound to go and the waiting
  // actions kStopBound to run, and says how many of each were left.
  void FinishActions();

  CDocFrame* frame_ = nullptr;
  std::unique_ptr<CServiceAccess> service_;
  CMessageStore store_;
  CActionWorker* actions_ = nullptr;  // owned by rules_; null without an executor
  CRulesEngine rules_;
  bool rulesEnabled_;
  std::unique_ptr<CHistoryFiles> history_;
  bool serviceRunning_ = false;
  CDatagramReader reader_;  // the header forms (ReadParseOptions, read when listening starts) and "resolve"
  std::unique_ptr<CSyslogSocket> socket_;
  std::unique_ptr<QSocketNotifier> notifier_;
  // Beside the UDP socket: IPv6, TCP and TLS as the settings ask; quietly absent when they
  // cannot be opened, like the socket itself.
  std::unique_ptr<CSyslogReceivers> receivers_;
  std::vector<std::unique_ptr<QSocketNotifier>> receiverNotifiers_;
  int receiverCalls_ = 0;  // receiver calls under way (nested when a message opens a dialog)
  std::unique_ptr<CStreamForwarder> streamForwarder_;  // rule values "tcp://host:port", "tls://host:port"
  std::unique_ptr<CRelayReception> relay_;
  std::unique_ptr<CRemoteReception> remote_;
  bool remoteUntrustedTold_ = false;
  std::unique_ptr<CLocalChannel> channel_;  // the monitors' findings; outlives them
  std::unique_ptr<QSocketNotifier> channelNotifier_;  // made when the monitors first start
  std::unique_ptr<CMonitorSet> monitors_;
  bool timeMarkRunning_ = false;
  std::string listenProblem_;  // said last, so it is said once

  bool modified_ = false;
  std::string title_;
  std::string pathName_;
  bool multiFileOpen_ = false;
  bool mayEmptyOnce_ = false;
  std::vector<std::string> relayed_;  // record lines taken from the relay, reused
  CReportThrottle droppedLines_;
};

}  // namespace qv
