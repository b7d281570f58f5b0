#pragma once
// The SNMP trap monitor: listens on UDP port 162 for SNMPv1 traps, SNMPv2c traps and informs,
// reports each as one line ("SNMP Trap: Ver=1 Community=public ...", severity 6, the trap's
// agent address as source) and answers every inform with a Response to its sender. When the
// port is taken it reports "SNMP Trap Monitor: Port 162 is already in use" (severity 3) once and
// ends; a later Start tries again.
//
// Datagrams that do not decode, messages without a version and PDUs other than traps and
// informs are dropped without a word. The worker waits on its socket and its stop event
// together, so a stop is seen at once and a stream of junk datagrams delays no trap.
//
// Threading: as CMonitorThread; the endpoint lives on the worker thread only.

#include <cstdint>

#include "monitors/monitor_thread.h"

namespace qv {

class CSnmpEndpoint;
class CSnmpMessage;

class CTrapMonitor final : public CMonitorThread {
 public:
  static constexpr uint16_t kTrapPort = 162;

  // `port` exists for tests; the programs use kTrapPort.
  explicit CTrapMonitor(MonitorReporter reporter = {}, uint16_t port = kTrapPort);
  ~CTrapMonitor() override;

 protected:
  void Run() override;

 private:
  void Handle(CSnmpMessage& message, CSnmpEndpoint& endpoint) const;

  uint16_t port_;
};

}  // namespace qv
