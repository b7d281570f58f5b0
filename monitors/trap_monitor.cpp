#include "monitors/trap_monitor.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/sync/manual_reset_event.h"
#include "snmp/snmp_endpoint.h"
#include "snmp/trap_report.h"

namespace qv {
namespace {

constexpr int kReceiveTimeoutSeconds = 1;
constexpr int kWaitMs = 1000;
constexpr size_t kReceiveBufferSize = 65536;
constexpr int kTrapSeverity = 6;
constexpr int kPortInUseSeverity = 3;

}  // namespace

std::string TrapPortFailureText(uint16_t port, int error) {
  const std::string head = "SNMP Trap Monitor: Port " + std::to_string(port);
  if (error == EADDRINUSE) return head + " is already in use";
  if (error == EACCES || error == EPERM) {
    return head + " cannot be bound: permission denied (it needs root or CAP_NET_BIND_SERVICE)";
  }
  return head + " cannot be bound: " + std::strerror(error);
}

std::string FitTrapReport(std::string text) {
  // Its line ends may each become two bytes in the record line, so the limit is half a datagram.
  if (text.size() > CTrapMonitor::kMaxReportBytes) {
    text.resize(CTrapMonitor::kMaxReportBytes - 3);
    text += "...";
  }
  return text;
}

CTrapMonitor::CTrapMonitor(MonitorReporter reporter, uint16_t port)
    : CMonitorThread(std::move(reporter)), port_(port) {}

CTrapMonitor::~CTrapMonitor() { EndWorker(); }

void CTrapMonitor::Run() {
  CSnmpEndpoint endpoint(port_, kReceiveTimeoutSeconds);
  if (!endpoint.Ready()) {
    Report(TrapPortFailureText(port_, endpoint.LastError()), kPortInUseSeverity);
    return;
  }
  endpoint.SetBufferSize(kReceiveBufferSize);

  // The stop event first: it wins over a socket that is readable at the same moment.
  const int fds[] = {StopEvent().Fd(), endpoint.Descriptor()};
  while (true) {
    const int ready = WaitForAny(fds, kWaitMs);
    if (ready == 0 || ready == kWaitFailed) return;
    if (ready == 1) {
      if (auto message = endpoint.Receive()) Handle(*message, endpoint);
    }
  }
}

void CTrapMonitor::Handle(CSnmpMessage& message, CSnmpEndpoint& endpoint) const {
  const auto text = TrapReportText(message);
  if (!text) return;
  Report(FitTrapReport(*text), kTrapSeverity, TrapReportAddress(message, endpoint.PeerAddress()));
  if (message.PduType() == kPduInformRequest) {
    message.SetPduType(kPduResponse);
    message.SetErrorStatus(0);
    message.SetErrorIndex(0);
    endpoint.Reply(message);  // a lost acknowledgement is the sender's to retry
  }
}

}  // namespace qv
