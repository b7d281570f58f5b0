#include "monitors/ping_monitor.h"

#include <algorithm>

#include "core/settings/settings_store.h"
#include "monitors/resolve_host.h"

namespace qv {
namespace {

constexpr int kTtl = 32;
constexpr int kDataSize = 32;
constexpr int kNoEchoSeverity = 3;

// A period of 0 would ping without pause and keep a core busy; the list editor offers 1 to 3600.
constexpr int32_t kMinPollSeconds = 1;
constexpr int32_t kMaxPollSeconds = INT32_MAX / 1000;

}  // namespace

CPingMonitor::CPingMonitor(MonitorReporter reporter)
    : CMonitorThread(std::move(reporter)),
      echoTimeoutMs_(std::max<int32_t>(0, AppSettings().GetInt("Settings", "pingtimeout", 5000))) {
  const int32_t seconds = AppSettings().GetInt("Settings", "pingpoll", 30);
  SetPollInterval(std::clamp(seconds, kMinPollSeconds, kMaxPollSeconds) * 1000);
}

CPingMonitor::~CPingMonitor() { EndWorker(); }

void CPingMonitor::Init() {
  hosts_.clear();
  const CSettingsStore& settings = AppSettings();
  const int32_t count = std::min(settings.GetInt("Settings", "pingcount", 0), kMaxHosts);
  for (int32_t i = 0; i < count; ++i) {
    const std::string host = settings.GetString("Pings", "ping" + std::to_string(i));
    if (!host.empty()) AddHost(host);
  }
}

bool CPingMonitor::PingHost(const std::string& host, icmp::EchoReply& reply, int ttl, int timeoutMs, int dataSize,
                            int typeOfService, bool dontFragment) const {
  if (!icmp::EchoAvailable()) return false;
  icmp::EchoRequest request;
  if (ResolveHostIPv4(host, StopEvent(), &request.address) != ResolveResult::kResolved) return false;
  request.ttl = ttl;
  request.timeoutMs = timeoutMs;
  request.dataSize = dataSize;
  request.typeOfService = typeOfService;
  request.dontFragment = dontFragment;
  return icmp::SendEcho(request, &StopEvent(), &reply) == icmp::EchoResult::kAnswered;
}

void CPingMonitor::Run() {
  if (!hosts_.empty() && !icmp::EchoAvailable()) Report(kNoEchoText, kNoEchoSeverity);
  do {
    for (Host& entry : hosts_) {
      icmp::EchoReply reply;
      const bool answered = PingHost(entry.host, reply, kTtl, echoTimeoutMs_, kDataSize, 0, false);
      if (StopRequested()) return;  // an interrupted echo says nothing about the host
      if (answered == entry.lastResult) continue;
      Report("Ping Monitor: " + entry.host +
             (answered ? " OK (RTT " + std::to_string(reply.roundTripMs) + " mSecs)" : " No Reply"));
      entry.lastResult = answered;
    }
  } while (WaitPollInterval());
}

}  // namespace qv
