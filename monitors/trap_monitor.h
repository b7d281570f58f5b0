#pragma once
// The SNMP trap monitor: listens on UDP port 162 for SNMPv1 traps, SNMPv2c traps and informs,
// reports each as one line ("SNMP Trap: Ver=1 Community=public ...", severity 6, the trap's
// sender as source: see TrapReportAddress) and answers every inform with a Response to its
// sender. A report longer than kMaxReportBytes is cut there and ends in "...", so that its record
// line still fits one relay datagram. When the port cannot be bound the monitor says why once (severity 3) and ends: "SNMP
// Trap Monitor: Port 162 is already in use" when another program holds it, and that binding
// needs root or CAP_NET_BIND_SERVICE when permission was refused; a later Start tries again.
//
// Datagrams that do not decode, messages without a version and PDUs other than traps and
// informs are dropped without a word. The worker waits on its socket and its stop event
// together, so a stop is seen at once and a stream of junk datagrams delays no trap.
//
// Threading: as CMonitorThread; the endpoint lives on the worker thread only.

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitors/monitor_thread.h"

namespace qv {

class CSnmpEndpoint;
class CSnmpMessage;

// The report of a port that could not be bound, by the errno value of the failure.
std::string TrapPortFailureText(uint16_t port, int error);

// `text` cut to at most CTrapMonitor::kMaxReportBytes bytes, ending in "..." when it was cut.
std::string FitTrapReport(std::string text);

class CTrapMonitor final : public CMonitorThread {
 public:
  static constexpr uint16_t kTrapPort = 162;
  static constexpr std::size_t kMaxReportBytes = 32000;

  // `port` exists for tests; the programs use kTrapPort.
  explicit CTrapMonitor(MonitorReporter reporter, uint16_t port = kTrapPort);
  ~CTrapMonitor() override;

 protected:
  void Run() override;

 private:
  void Handle(CSnmpMessage& message, CSnmpEndpoint& endpoint) const;

  uint16_t port_;
};

}  // namespace qv
