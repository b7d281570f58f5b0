#include "service/service_engine.h"

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/settings/settings_store.h"
#include "reception/history_tail.h"
#include "reception/relay.h"

namespace qv {
namespace {

constexpr const char* kTimeMark = "-----Time Mark-----";
constexpr int32_t kLocalSeverity = 7;

bool Setting(const char* name, int32_t defaultValue) {
  return AppSettings().GetInt("Settings", name, defaultValue) != 0;
}

}  // namespace

CServiceEngine::CServiceEngine(const ExecutorFactory& makeExecutor)
    : relay_(RelaySocketPath()),
      rulesEnabled_(Setting("RulesEnabled", 1)),
      reader_(ReadParseOptions(), Setting("resolve", 0)),
      socket_(*this, AppSettings().GetInt("Settings", "udpport", 514)),
      streamForwarder_([this](const std::string& text) { OnLocalMessage(text); }, CStreamForwarder::Options::Read()),
      actions_(nullptr),
      rules_(*this, MakeActions(makeExecutor)) {
  if (!socket_.created()) return;
  receivers_.emplace(*this, ReceiverSettings::Read());
  if (!receivers_->failure().empty()) return;
  history_.emplace();
  history_->SetLimitKB(AppSettings().GetInt("Settings", "historysize", CHistoryFiles::kDefaultLimitKB));
  if (!receivers_->warning().empty()) OnLocalMessage(receivers_->warning());
  rules_.SetFirstRuleOnly(Setting("FirstRuleOnly", 0));
  rules_.LoadRules(this);
  monitors_ = std::make_unique<CServiceMonitors>(channel_.Poster());

  std::vector<CSyslogReceivers::Watch> watches = receivers_->watches();
  watches.push_back({channel_.wakeDescriptor(), [this] { DeliverLocalRecords(); }});
  StartViewerLink();
  receiveThread_.emplace(socket_.descriptor(), queue_);
  if (receiveThread_->running() && queue_.wakeDescriptor() >= 0) {
    watches.push_back({queue_.wakeDescriptor(), [this] { queue_.Deliver(*this, kMaxDatagramsPerTurn); }});
  } else {
    receiveThread_.reset();  // no thread to be had: the socket is read here
    watches.push_back({socket_.descriptor(), [this] { socket_.OnReceive(); }});
  }
  for (CSyslogReceivers::Watch& watch : watches) {
    auto notifier = std::make_unique<QSocketNotifier>(watch.descriptor, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [this, onReadable = std::move(watch.onReadable)] {
                       history_->CheckFileName();  // once per batch: a history renamed away is left
                       onReadable();
                       WriteBatch();
                       FlushRelay();
                     });
    notifiers_.push_back(std::move(notifier));
  }

  const int32_t minutes = AppSettings().GetInt("Settings", "timemark", 0);
  if (minutes > 0) {
    QObject::connect(&timeMark_, &CLongTimer::timeout, &timeMark_, [this] {
      history_->CheckFileName();
      OnLocalMessage(kTimeMark);
    });
    timeMark_.Start(std::chrono::minutes(minutes));
  }
  heldBackReports_.setInterval(std::chrono::seconds(10));
  QObject::connect(&heldBackReports_, &QTimer::timeout, &heldBackReports_, [this] {
    rules_.ReportHeldBack();
    streamForwarder_.ReportHeldBack();
    if (const auto report = channel_.TakeDropReport()) OnLocalMessage(*report);
  });
  heldBackReports_.start();
}

CServiceEngine::~CServiceEngine() { Stop(); }

void CServiceEngine::StartViewerLink() {
  const ViewerLinkSettings settings = ViewerLinkSettings::Read();
  if (settings.port == 0) return;
  viewers_.emplace(*this, settings, [this](std::size_t lines) {
    WriteBatch();  // every line accepted so far is in the history, and none after is
    std::string older, newer;
    history_->GetLoadOrder(older, newer);
    return ReadHistoryTail(older, newer, lines);
  });
  if (!viewers_->failure().empty()) {
    // Reception goes on without remote viewers.
    const std::string failure = viewers_->failure();
    viewers_.reset();
    OnLocalMessage(failure);
    return;
  }
  // Viewers becoming writable wake this often: that is no turn of received messages, so the
  // history's name is not looked up for it. Reports made here write and relay themselves.
  auto notifier = std::make_unique<QSocketNotifier>(viewers_->descriptor(), QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { viewers_->OnReceive(); });
  notifiers_.push_back(std::move(notifier));
}

std::unique_ptr<CActionExecutor> CServiceEngine::MakeActions(const ExecutorFactory& makeExecutor) {
  auto worker = std::make_unique<CActionWorker>(makeExecutor(*this), [this] {
    // On the worker's thread: the reports are handed over on ours.
    QMetaObject::invokeMethod(&reportsContext_, [this] { actions_->DeliverReports(); }, Qt::QueuedConnection);
  });
  actions_ = worker.get();
  return worker;
}

void CServiceEngine::Stop() {
  if (stopped_) return;
  stopped_ = true;
  timeMark_.Stop();
  heldBackReports_.stop();
  for (const std::unique_ptr<QSocketNotifier>& notifier : notifiers_) notifier->setEnabled(false);
  receiveThread_.reset();  // nothing more is taken from the socket
  if (history_) {
    history_->CheckFileName();
    bool more = true;
    while (more) {
      more = queue_.Deliver(*this, kMaxDatagramsPerTurn);
      more = DeliverLocalRecords() || more;
      WriteBatch();
      relay_.Flush();
    }
  }
  // What waits in the socket's buffer arrived before the stop too: it is read here, for at
  // most kSocketDrainBound, since a sender may keep it full.
  const auto drainUntil = std::chrono::steady_clock::now() + kSocketDrainBound;
  pollfd waiting{socket_.descriptor(), POLLIN, 0};
  while (history_ && std::chrono::steady_clock::now() < drainUntil && poll(&waiting, 1, 0) == 1) {
    socket_.OnReceive();
    WriteBatch();
    relay_.Flush();
  }
  // Clients over TCP and TLS are told the end and read until they end too: what a forwarding
  // server had sent before it noticed is stored, and the rest it sends after the restart.
  if (history_ && receivers_) {
    receivers_->Drain(kConnectionDrainBound);
    WriteBatch();
    relay_.Flush();
  }
  streamForwarder_.Finish(kForwardBound);  // the rules forward on this thread: all are queued
  const std::size_t skipped = actions_->Stop(kStopBound);
  if (skipped > 0) {
    OnLocalMessage("Rules: " + std::to_string(skipped) + " actions (mail, database, SNMP trap, program) were still " +
                   "waiting when the service stopped and were skipped");
  }
  rules_.ReportHeldBack();
  WriteBatch();
  relay_.Flush();
  if (viewers_) viewers_->Flush(true);  // what the remote viewers' sockets take without waiting
}

std::string CServiceEngine::failure() const {
  if (listening()) return "";
  if (receivers_) return receivers_->failure();
  return "cannot receive syslog on UDP port " + std::to_string(socket_.port()) + ": " + std::strerror(socket_.error());
}

void CServiceEngine::OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) {
  SyslogMessage record = reader_.Read(senderAddress, senderPort, text);
  Accept(record);
}

void CServiceEngine::OnLocalRecord(SyslogMessage& record) {
  reader_.FillHostName(record);
  Accept(record);
}

void CServiceEngine::Accept(SyslogMessage& record) {
  bool discard = false;
  if (rulesEnabled_) rules_.RunRules(record, discard, record.highlighted);
  if (!discard) Relay(record.FormatRecordLine());
}

bool CServiceEngine::DeliverLocalRecords() {
  const bool more =
      channel_.Deliver([this](SyslogMessage& record) { OnLocalRecord(record); }, kMaxDatagramsPerTurn);
  if (const auto report = channel_.TakeDropReport()) OnLocalMessage(*report);
  return more;
}

void CServiceEngine::OnLocalMessage(std::string_view text) {
  Relay(MakeLocalRecord(text, kLocalSeverity, "127.0.0.1").FormatRecordLine());
  // With whatever of the current batch was accepted before it, in order.
  WriteBatch();
  FlushRelay();
}

void CServiceEngine::FlushRelay() {
  relay_.Flush();
  if (viewers_) viewers_->Flush();
  if (!relay_.waiting()) {
    if (relayWritable_) relayWritable_->setEnabled(false);
    return;
  }
  // Lines wait for the viewer to read: send them on as soon as its queue has room.
  if (!relayWritable_ || relayWritable_->socket() != relay_.fd()) {
    if (relayWritable_) relayWritable_.release()->deleteLater();  // it may be the caller
    relayWritable_ = std::make_unique<QSocketNotifier>(relay_.fd(), QSocketNotifier::Write);
    QObject::connect(relayWritable_.get(), &QSocketNotifier::activated, relayWritable_.get(),
                     [this] { FlushRelay(); });
  }
  relayWritable_->setEnabled(true);
}

void CServiceEngine::Relay(const std::string& recordLine) {
  relay_.Relay(recordLine);
  if (viewers_) viewers_->Publish(recordLine);
  if (!history_) return;
  batch_ += recordLine;
  if (batch_.size() >= kMaxBatchBytes) WriteBatch();  // a batch of very long lines
}

void CServiceEngine::WriteBatch() {
  if (!history_ || batch_.empty()) return;
  // A history that stops or starts working again says so once. The report's own line does not
  // count, so a nearly full disk cannot make reports about reports.
  if (reportingHistory_) {
    history_->AppendUntracked(batch_);
    batch_.clear();
    return;
  }
  history_->Append(batch_);
  batch_.clear();
  if (const auto report = history_->TakeReport()) {
    reportingHistory_ = true;
    OnLocalMessage(*report);
    reportingHistory_ = false;
  }
}

void CServiceEngine::Forward(std::string_view dottedAddress, const SyslogMessage& message) {
  if (CStreamForwarder::Handles(dottedAddress)) {
    streamForwarder_.Forward(dottedAddress, message);
  } else {
    socket_.Forward(dottedAddress, message);
  }
}

}  // namespace qv
