#include "ui/store/quorvel_doc.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <ext/stdio_filebuf.h>
#include <fstream>
#include <istream>

#include "core/message/names.h"
#include "core/settings/settings_store.h"
#include "monitors/monitor_set.h"
#include "platform/files/owned_file.h"
#include "reception/history_files.h"
#include "reception/local_channel.h"
#include "reception/relay.h"
#include "reception/syslog_receivers.h"
#include "reception/syslog_socket.h"
#include "reception/stream_forwarder.h"
#include "ui/store/listen_problem.h"
#include "ui/store/relay_reception.h"

namespace qv {
namespace {

constexpr int32_t kLocalSeverity = 7;
constexpr int32_t kDefaultUdpPort = 514;
// Relayed records stored per turn of the event loop, so that a flood leaves it free to paint
// and to answer the user between turns (about 5 ms of work).
constexpr std::size_t kRelayedPerTurn = 4096;
// Findings of the monitors handled per turn: they run the rules, which relayed records do not.
constexpr std::size_t kFindingsPerTurn = 1024;

int32_t Setting(const char* name, int32_t defaultValue) { return AppSettings().GetInt("Settings", name, defaultValue); }

// The current UTC time as "%Y_%b_%d_%H-%M-%S", with the English month names whatever the locale.
std::string UtcTitle() {
  const std::time_t now = std::time(nullptr);
  std::tm fields{};
  if (gmtime_r(&now, &fields) == nullptr) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%04d_%s_%02d_%02d-%02d-%02d", fields.tm_year + 1900, kMonthNames.at(
                    static_cast<std::size_t>(fields.tm_mon)), fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

std::string FileTitle(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A line of a document, import or history file: carriage returns removed; a syslog line takes
// its time sent as time received. False for a line that holds nothing.
bool ReadFileLine(std::string& line, SyslogMessage* record) {
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  if (line.empty()) return false;
  record->ParseFileLine(line);
  if (line.front() == '<') record->timeReceived = record->timeSent;
  return true;
}

}  // namespace

namespace {

// Keeps receivers alive until the event loop deletes it.
class DeferredDeletion : public QObject {
 public:
  explicit DeferredDeletion(std::unique_ptr<CSyslogReceivers> receivers) : receivers_(std::move(receivers)) {}

 private:
  std::unique_ptr<CSyslogReceivers> receivers_;
};

}  // namespace

CQuorvelDoc::CQuorvelDoc(const ExecutorFactory& makeExecutor, std::unique_ptr<CServiceAccess> service, QObject* parent)
    : QObject(parent),
      service_(service ? std::move(service) : std::make_unique<CSystemServiceAccess>()),
      store_(Setting("maxsize", CMessageStore::kDefaultMaxEntries)),
      rules_(*this, MakeActions(makeExecutor)),
      rulesEnabled_(Setting("RulesEnabled", 1) != 0),
      history_(std::make_unique<CHistoryFiles>()),
      reader_(ReadParseOptions(), Setting("resolve", 0) != 0),
      streamForwarder_(std::make_unique<CStreamForwarder>([this](const std::string& text) { OnLocalMessage(text); },
                                                          CStreamForwarder::Options::Read())),
      channel_(std::make_unique<CLocalChannel>()),
      monitors_(std::make_unique<CMonitorSet>(channel_->Poster())) {
  history_->SetLimitKB(Setting("historysize", CHistoryFiles::kDefaultLimitKB));
  rules_.SetFirstRuleOnly(Setting("FirstRuleOnly", 0) != 0);
  serviceRunning_ = service_->IsRunning();
  SetTitle(UtcTitle());
  auto* heldBackReports = new QTimer(this);
  heldBackReports->setInterval(std::chrono::seconds(10));
  connect(heldBackReports, &QTimer::timeout, this, [this] {
    rules_.ReportHeldBack();
    streamForwarder_->ReportHeldBack();
    if (const auto report = channel_->TakeDropReport()) OnLocalMessage(*report);
  });
  heldBackReports->start();
}

CQuorvelDoc::~CQuorvelDoc() {
  frame_ = nullptr;
  remote_.reset();
  StopServer(false);
  FinishActions();
}

std::unique_ptr<CActionExecutor> CQuorvelDoc::MakeActions(const ExecutorFactory& makeExecutor) {
  if (!makeExecutor) return nullptr;
  auto worker = std::make_unique<CActionWorker>(makeExecutor(*this), [this] {
    // On the worker's thread: the reports are handed over on ours.
    QMetaObject::invokeMethod(this, [this] { actions_->DeliverReports(); }, Qt::QueuedConnection);
  });
  actions_ = worker.get();
  return worker;
}

void CQuorvelDoc::FinishActions() {
  streamForwarder_->Finish(kForwardBound);
  if (actions_ == nullptr) return;
  const std::size_t skipped = actions_->Stop(kStopBound);
  if (skipped > 0) {
    OnLocalMessage("Rules: " + std::to_string(skipped) + " actions (mail, database, SNMP trap, program) were still " +
                   "waiting when Quorvel closed and were skipped");
  }
}

// --- Reception ---

void CQuorvelDoc::OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) {
  SyslogMessage record = reader_.Read(senderAddress, senderPort, text);
  Accept(record);
}

void CQuorvelDoc::OnLocalRecord(SyslogMessage& record) {
  reader_.FillHostName(record);
  Accept(record);
}

void CQuorvelDoc::Accept(SyslogMessage& record) {
  const bool alone = !serviceRunning_;
  if (rulesEnabled_ && alone) {
    bool discard = false;
    rules_.RunRules(record, discard, record.highlighted);
    if (discard) return;
  }
  AddToStore(record, true);
  if (alone) history_->Append(record.FormatRecordLine());
}

void CQuorvelDoc::DeliverLocalRecords() {
  channel_->Deliver([this](SyslogMessage& record) { OnLocalRecord(record); }, kFindingsPerTurn);
  if (const auto report = channel_->TakeDropReport()) OnLocalMessage(*report);
}

void CQuorvelDoc::OnLocalMessage(std::string_view text) {
  SyslogMessage record = MakeLocalRecord(text, kLocalSeverity, "127.0.0.1");
  AddToStore(record, true);
  if (!serviceRunning_) history_->Append(record.FormatRecordLine());
}

bool CQuorvelDoc::OnRelayedLine(std::string_view recordLine, bool refresh) {
  SyslogMessage record;
  record.ReadRecordLine(recordLine);
  return AddToStore(record, refresh);
}

bool CQuorvelDoc::AddTakenLines(const std::function<bool(std::vector<std::string>&, std::size_t)>& take) {
  relayed_.clear();
  const bool more = take(relayed_, kRelayedPerTurn);
  bool shownGrew = false;
  for (const std::string& line : relayed_) shownGrew = OnRelayedLine(line, false) || shownGrew;
  if (shownGrew && frame_ != nullptr) frame_->RequestRefresh();  // one request per batch
  return more;
}

void CQuorvelDoc::SayDroppedLines(uint64_t dropped) {
  const auto say = [this](uint64_t count) {
    OnLocalMessage("Viewer: " + std::to_string(count) +
                   " messages were dropped because the window fell behind; the service's history holds them");
  };
  if (dropped > 0) {
    if (const auto count = droppedLines_.Count("lines", dropped)) say(*count);
  }
  for (const auto& due : droppedLines_.TakeDue()) say(due.second);
}

void CQuorvelDoc::AddRelayedBatch() {
  if (!relay_) return;
  if (AddTakenLines([this](std::vector<std::string>& lines, std::size_t most) { return relay_->Take(lines, most); })) {
    QMetaObject::invokeMethod(this, &CQuorvelDoc::AddRelayedBatch, Qt::QueuedConnection);
  }
  SayDroppedLines(relay_->TakeDropped());
}

void CQuorvelDoc::StartReception() {
  // A remote service brings its own backfill; this machine's history and ports stay out.
  if (!remote_ && Setting("startserver", 1) != 0) StartServer(Setting("udpport", kDefaultUdpPort));
  ReloadRules();
  if (!remote_ && Setting("loadhistory", 1) != 0) LoadHistory();
}

void CQuorvelDoc::ConnectRemote(const RemoteTarget& target) {
  remote_.reset();  // joins the thread of a link before
  StopServer(false);
  remoteUntrustedTold_ = false;
  remote_ = std::make_unique<CRemoteReception>(
      target, [this] { QMetaObject::invokeMethod(this, &CQuorvelDoc::OnRemoteWake, Qt::QueuedConnection); });
  remote_->Start();
  UpdateStatus();
}

void CQuorvelDoc::DisconnectRemote() {
  if (!remote_) return;
  remote_.reset();
  if (Setting("startserver", 1) != 0) {
    StartServer(Setting("udpport", kDefaultUdpPort));
  } else {
    UpdateStatus();
  }
}

void CQuorvelDoc::OnRemoteWake() {
  if (!remote_) return;  // a wake posted before the link ended
  if (AddTakenLines([this](std::vector<std::string>& lines, std::size_t most) { return remote_->Take(lines, most); })) {
    QMetaObject::invokeMethod(this, &CQuorvelDoc::OnRemoteWake, Qt::QueuedConnection);
  }
  SayDroppedLines(remote_->TakeDropped());
  UpdateStatus();
  if (remote_->state() == CRemoteReception::State::kUntrusted && !remoteUntrustedTold_) {
    remoteUntrustedTold_ = true;
    const RemoteTarget& target = remote_->target();
    emit remoteUntrusted(QString::fromStdString(target.host + ":" + std::to_string(target.port)),
                         QString::fromStdString(remote_->untrustedFingerprint()));
  }
}

// --- Store ---

void CQuorvelDoc::AddMessage(SyslogMessage record, bool refresh) { AddToStore(record, refresh); }

bool CQuorvelDoc::AddToStore(SyslogMessage& record, bool refresh) {
  bool shownGrew = false;
  // Arrivals and loaded history are not the user's changes: only what the user did (an import, a
  // highlight) marks the document modified.
  TellNovelty(store_.Add(record, &shownGrew), record);
  if (refresh && shownGrew && frame_ != nullptr) frame_->RequestRefresh();
  return shownGrew;
}

void CQuorvelDoc::TellNovelty(const CMessageStore::Novelty& novelty, const SyslogMessage& record) {
  if (frame_ == nullptr) return;
  if (novelty.address) frame_->AddAddress(record.ipAddress);
  if (novelty.hostName) frame_->AddHostName(record.hostName);
  if (novelty.facility) frame_->AddFacility(std::clamp(record.facility, 0, kFacilityUnknown));
}

SyslogMessage CQuorvelDoc::GetMessage(ShownPosition position) const {
  StoredMessageView view;
  return store_.ShownAt(position, &view) ? view.ToMessage() : SyslogMessage();
}

SyslogMessage CQuorvelDoc::GetStoredMessage(int position) const {
  StoredMessageView view;
  return store_.StoredAt(position, &view) ? view.ToMessage() : SyslogMessage();
}

void CQuorvelDoc::ApplyFilter(const CRule& filter) {
  const std::optional<ShownPosition> kept =
      store_.ApplyFilter(filter, frame_ != nullptr ? frame_->SelectedPosition() : std::nullopt);
  if (frame_ == nullptr) return;
  frame_->UpdateAllViews();
  frame_->ClearSelection();
  if (kept) frame_->EnsureSelected(*kept);
}

void CQuorvelDoc::SetQuickFilter(const std::string& text) {
  if (text == store_.quickText()) return;
  const std::optional<ShownPosition> kept =
      store_.SetQuickText(text, frame_ != nullptr ? frame_->SelectedPosition() : std::nullopt);
  if (frame_ == nullptr) return;
  frame_->UpdateAllViews();
  frame_->ClearSelection();
  if (kept) frame_->EnsureSelected(*kept);
}

bool CQuorvelDoc::MoveTimeWindow(int32_t low) {
  std::optional<ShownPosition> kept = frame_ != nullptr ? frame_->SelectedPosition() : std::nullopt;
  const CMessageStore::WindowMove moved = store_.MoveTimeWindow(low, &kept);
  if (moved == CMessageStore::WindowMove::kNotMoving) return false;
  if (moved == CMessageStore::WindowMove::kUnchanged || frame_ == nullptr) return true;
  frame_->UpdateAllViews();
  if (moved == CMessageStore::WindowMove::kRebuilt) {
    frame_->ClearSelection();
    if (kept) frame_->EnsureSelected(*kept);
  }
  return true;
}

void CQuorvelDoc::ShowAll() {
  store_.ShowAll();
  if (frame_ != nullptr) frame_->UpdateAllViews();
}

void CQuorvelDoc::SortBy(int key) {
  store_.SortBy(key);
  if (frame_ != nullptr) frame_->UpdateAllViews();
}

void CQuorvelDoc::ToggleHighlight(ShownPosition position) {
  if (!store_.ToggleHighlight(position)) return;
  SetModifiedFlag(true);
  emit shownMessageChanged(position);
}

// --- Listening ---

bool CQuorvelDoc::StartServer(int32_t port) {
  if (remote_) {
    UpdateStatus();
    return false;
  }
  serviceRunning_ = service_->IsRunning();
  std::string problem;
  if (serviceRunning_) {
    // The service runs the monitors, the rules and the history; the relay brings its records.
    if (!socket_ && !relay_) {
      relay_ = std::make_unique<CRelayReception>(
          [this] { QMetaObject::invokeMethod(this, &CQuorvelDoc::AddRelayedBatch, Qt::QueuedConnection); });
      std::string error;
      if (!relay_->Start(RelaySocketPath(), &error)) {
        relay_.reset();
        problem = "The service's messages cannot be received: " + error + ".";
      }
    }
  } else {
    if (!channelNotifier_) {
      channelNotifier_ = std::make_unique<QSocketNotifier>(channel_->wakeDescriptor(), QSocketNotifier::Read);
      connect(channelNotifier_.get(), &QSocketNotifier::activated, this, &CQuorvelDoc::DeliverLocalRecords);
    }
    monitors_->StartConfigured();
    if (frame_ != nullptr) frame_->StartTimeMark();
    if (!socket_ && !relay_) problem = StartUdp(port);
  }
  ReportListenProblem(problem);
  UpdateStatus();
  return socket_ || relay_;
}

void CQuorvelDoc::ReportListenProblem(const std::string& problem) {
  if (problem == listenProblem_) return;
  listenProblem_ = problem;
  if (frame_ != nullptr) frame_->SetListenTip(problem);
  if (!problem.empty()) OnLocalMessage(problem);
}

std::string CQuorvelDoc::StartUdp(int32_t port) {
  // Read anew like the port and the receivers, so that apply settings takes up a changed form.
  reader_.SetOptions(ReadParseOptions());
  socket_ = std::make_unique<CSyslogSocket>(*this, port);
  if (!socket_->created()) {
    const int error = socket_->error();
    socket_.reset();
    rules_.SetForwarder(nullptr);
    return PortProblem(port, error, service_->IsInstalled());
  }
  rules_.SetForwarder(this);
  notifier_ = std::make_unique<QSocketNotifier>(socket_->descriptor(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    if (socket_) socket_->OnReceive();
  });
  receivers_ = std::make_unique<CSyslogReceivers>(*this, ReceiverSettings::Read());
  if (!receivers_->warning().empty()) OnLocalMessage(receivers_->warning());
  for (CSyslogReceivers::Watch& watch : receivers_->watches()) {
    auto notifier = std::make_unique<QSocketNotifier>(watch.descriptor, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this,
            [this, onReadable = std::move(watch.onReadable)] {
              if (!receivers_) return;
              ++receiverCalls_;
              onReadable();
              --receiverCalls_;
            });
    receiverNotifiers_.push_back(std::move(notifier));
  }
  // UDP works; a TCP, TLS or IPv6 receiver that does not is said all the same.
  if (const std::string& failure = receivers_->failure(); !failure.empty()) {
    return "The viewer " + failure + ". Choose another port in Preferences, or stop the program that holds it.";
  }
  return "";
}

void CQuorvelDoc::StopServer(bool updateStatus) {
  if (socket_) {
    rules_.SetForwarder(nullptr);
    // The notifier may be the one whose signal is running (a command from inside a datagram's
    // handling): it goes once control is back in the event loop.
    notifier_->setEnabled(false);
    notifier_.release()->deleteLater();
    socket_.reset();
    for (std::unique_ptr<QSocketNotifier>& notifier : receiverNotifiers_) {
      notifier->setEnabled(false);
      notifier.release()->deleteLater();
    }
    receiverNotifiers_.clear();
    // Their ports are freed at once, so that a restart can listen on them again, unless
    // stopping comes from inside a receiver's own call (a command run while a message is
    // handled): then they go once control is back in the event loop.
    if (receiverCalls_ > 0) {
      (new DeferredDeletion(std::move(receivers_)))->deleteLater();
    } else {
      receivers_.reset();
    }
  }
  if (relay_) {
    std::unique_ptr<CRelayReception> relay = std::move(relay_);
    relay.reset();  // joins the draining thread
  }
  if (frame_ != nullptr) frame_->StopTimeMark();
  monitors_->StopAll();
  if (updateStatus) UpdateStatus();
}

bool CQuorvelDoc::UpdateStatus() {
  if (remote_) {
    if (frame_ != nullptr) frame_->SetListenText(remote_->StatusText());
    return false;
  }
  serviceRunning_ = service_->IsRunning();
  const bool listening = socket_ || relay_;
  const int32_t udpPort = Setting("udpport", kDefaultUdpPort);
  char text[96];
  if (listening && serviceRunning_) {
    std::snprintf(text, sizeof text, "Service Listening on port %d, UI active", udpPort);
  } else if (listening) {
    std::snprintf(text, sizeof text, "UI Listening on port %d", socket_ ? socket_->boundPort() : udpPort);
  } else if (serviceRunning_) {
    std::snprintf(text, sizeof text, "Service Listening on port %d, UI not active", udpPort);
  } else {
    std::snprintf(text, sizeof text, "Service and UI Server not listening");
  }
  if (frame_ != nullptr) frame_->SetListenText(text);
  return listening;
}

int32_t CQuorvelDoc::GetListenPort() const { return socket_ ? socket_->boundPort() : 0; }

bool CQuorvelDoc::IsListeningOnRelay() const { return relay_ != nullptr; }

// --- Rules ---

void CQuorvelDoc::ReloadRules() { rules_.LoadRules(socket_ ? this : nullptr); }

void CQuorvelDoc::Forward(std::string_view dottedAddress, const SyslogMessage& message) {
  if (CStreamForwarder::Handles(dottedAddress)) {
    streamForwarder_->Forward(dottedAddress, message);
  } else if (socket_) {
    socket_->Forward(dottedAddress, message);
  }
}

void CQuorvelDoc::SetHistoryLimitKB(int32_t kilobytes) { history_->SetLimitKB(kilobytes); }

// --- Files ---

bool CQuorvelDoc::ExportFile(const std::string& path, RecordFormat format) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << FileHeader(format);
  const int count = GetShownCount();
  for (int i = 0; i < count && out; ++i) out << FormatFileLine(GetMessage(ShownPosition(i)), format);
  return static_cast<bool>(out);
}

bool CQuorvelDoc::ImportFile(const std::string& path) {
  if (!ReadFile(path, true)) return false;
  SetModifiedFlag(true);
  if (frame_ != nullptr) frame_->RequestRefresh();
  return true;
}

bool CQuorvelDoc::ReadFile(const std::string& path, bool intoRing) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  ReadLines(in, intoRing);
  return true;
}

void CQuorvelDoc::ReadLines(std::istream& in, bool intoRing) {
  std::string line;
  while (std::getline(in, line)) {
    SyslogMessage record;
    if (!ReadFileLine(line, &record)) continue;
    if (intoRing) {
      AddToStore(record, false);
    } else {
      TellNovelty(store_.AppendFromFile(record), record);
    }
  }
}

void CQuorvelDoc::LoadHistory() {
  std::string older;
  std::string newer;
  history_->GetLoadOrder(older, newer);
  for (const std::string& path : {older, newer}) {
    if (path.empty()) continue;
    // "histpath" may lie in a folder that others can write: what they planted there (a FIFO
    // that would hold the window for ever, a link, a file of theirs) is not read.
    const OwnedFile file = OpenOwnedFile(path, OwnedFileAccess::kRead);
    if (!file) {
      OnLocalMessage("Load History: cannot read " + path + ": " + file.refusal);
      continue;
    }
    __gnu_cxx::stdio_filebuf<char> buffer(file.fd, std::ios::in | std::ios::binary);  // closes it
    std::istream in(&buffer);
    ReadLines(in, true);
  }
  if (frame_ != nullptr) {
    frame_->RequestRefresh();
    frame_->SetHistoryLoadable(false);
  }
}

void CQuorvelDoc::ClearHistory() { history_->Clear(); }

// --- Document ---

void CQuorvelDoc::DeleteContents() {
  if (multiFileOpen_ && !mayEmptyOnce_) return;
  mayEmptyOnce_ = false;
  store_.Clear(Setting("maxsize", CMessageStore::kDefaultMaxEntries));
  reader_.ForgetNames();
  SetTitle(UtcTitle());
  if (frame_ == nullptr) return;
  frame_->ForgetEntries();
  frame_->SetHistoryLoadable(true);
  frame_->UpdateAllViews();
}

void CQuorvelDoc::NewDocument() {
  pathName_.clear();  // before the title changes, so that it names no file
  DeleteContents();
  SetModifiedFlag(false);
}

bool CQuorvelDoc::OpenDocument(const std::string& path) {
  if (!std::ifstream(path, std::ios::binary)) return false;
  DeleteContents();
  ReadFile(path, false);
  pathName_ = path;
  SetTitle(FileTitle(path));
  SetModifiedFlag(false);
  if (frame_ != nullptr) frame_->UpdateAllViews();
  return true;
}

bool CQuorvelDoc::SaveDocument(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const int count = store_.storedCount();
  for (int i = 0; i < count && out; ++i) out << GetStoredMessage(i).FormatRecordLine();
  out.close();
  if (!out) return false;
  pathName_ = path;
  SetTitle(FileTitle(path));
  SetModifiedFlag(false);
  return true;
}

void CQuorvelDoc::OpenDroppedFiles(const std::vector<std::string>& paths) {
  multiFileOpen_ = paths.size() > 1;
  mayEmptyOnce_ = true;
  for (const std::string& path : paths) OpenDocument(path);
  multiFileOpen_ = false;
  mayEmptyOnce_ = false;
}

void CQuorvelDoc::SetModifiedFlag(bool modified) {
  if (modified_ == modified) return;
  modified_ = modified;
  emit modifiedChanged(modified);
}

bool CQuorvelDoc::SaveModifiedQuestion() {
  if (Setting("promptforsave", 0) == 0) SetModifiedFlag(false);
  return modified_;
}

void CQuorvelDoc::SetTitle(std::string title) {
  title_ = std::move(title);
  emit titleChanged(QString::fromStdString(title_));
}

}  // namespace qv
