#include "service/service_engine.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr const char* kTimeMark = "-----Time Mark-----";
constexpr int32_t kLocalSeverity = 7;

bool Setting(const char* name, int32_t defaultValue) {
  return AppSettings().GetInt("Settings", name, defaultValue) != 0;
}

}  // namespace

CServiceEngine::CServiceEngine(const ExecutorFactory& makeExecutor)
    : rulesEnabled_(Setting("RulesEnabled", 1)),
      resolveNames_(Setting("resolve", 0)),
      parseOptions_(ReadParseOptions()),
      socket_(*this, AppSettings().GetInt("Settings", "udpport", 514)),
      rules_(*this, makeExecutor(*this)) {
  if (!socket_.created()) return;
  receivers_.emplace(*this, ReceiverSettings::Read());
  if (!receivers_->failure().empty()) return;
  history_.emplace();
  history_->SetLimitKB(AppSettings().GetInt("Settings", "historysize", 1000));
  rules_.SetFirstRuleOnly(Setting("FirstRuleOnly", 0));
  rules_.LoadRules(this);
  monitors_ = std::make_unique<CServiceMonitors>();

  std::vector<CSyslogReceivers::Watch> watches = receivers_->watches();
  watches.push_back({socket_.descriptor(), [this] { socket_.OnReceive(); }});
  for (CSyslogReceivers::Watch& watch : watches) {
    auto notifier = std::make_unique<QSocketNotifier>(watch.descriptor, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [this, onReadable = std::move(watch.onReadable)] {
                       onReadable();
                       relay_.Flush();
                     });
    notifiers_.push_back(std::move(notifier));
  }

  const int32_t minutes = AppSettings().GetInt("Settings", "timemark", 0);
  if (minutes > 0) {
    timeMark_.setInterval(std::chrono::minutes(std::min(minutes, 35791)));  // the timer's range
    QObject::connect(&timeMark_, &QTimer::timeout, &timeMark_, [this] { OnLocalMessage(kTimeMark); });
    timeMark_.start();
  }
}

CServiceEngine::~CServiceEngine() = default;

std::string CServiceEngine::failure() const {
  if (listening()) return "";
  if (receivers_) return receivers_->failure();
  return "cannot receive syslog on UDP port " + std::to_string(socket_.port()) + ": " + std::strerror(socket_.error());
}

void CServiceEngine::OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) {
  // A multi-line datagram becomes one line; a line feed as first character is left alone.
  text_.assign(text);
  if (text_.size() > 1) std::replace(text_.begin() + 1, text_.end(), '\n', ' ');

  SyslogMessage record;
  record.ParseDatagram(senderAddress, senderPort, text_, parseOptions_);
  if (resolveNames_ && record.hostName.empty()) record.hostName = names_.Resolve(record.ipAddress);
  bool discard = false;
  if (rulesEnabled_) rules_.RunRules(record, discard, record.highlighted);
  if (!discard) Relay(record.FormatRecordLine());
}

void CServiceEngine::OnLocalMessage(std::string_view text) {
  Relay(MakeLocalRecord(text, kLocalSeverity, "127.0.0.1").FormatRecordLine());
  relay_.Flush();  // with whatever of the current batch is queued before it, in order
}

void CServiceEngine::Relay(const std::string& recordLine) {
  relay_.Relay(recordLine);
  if (history_) history_->Append(recordLine);
}

void CServiceEngine::Forward(std::string_view dottedAddress, const SyslogMessage& message) {
  if (CTcpForwarder::Handles(dottedAddress)) {
    tcpForwarder_.Forward(dottedAddress, message);
  } else {
    socket_.Forward(dottedAddress, message);
  }
}

}  // namespace qv
