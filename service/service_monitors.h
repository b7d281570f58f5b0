#pragma once
// The monitors the service starts with its engine, each on its own thread, each posting its
// findings to the engine's private channel so that they take the road of received messages:
// one translator per event log, however many there are, by "EventLog" (default on), the file, ping and phone-call
// monitors by their switches ("FileMonitor", "PingMonitor",
// "TapiMonitor", default off), and the SNMP trap monitor by "SNMPTrapMonitor" (default off, as in
// the windowed program). The switches are read once,
// at creation. Destruction stops every monitor; each stop waits at most 3000 ms.

#include "monitors/monitor_set.h"

namespace qv {

class CServiceMonitors {
 public:
  // Findings go to `post`, which must outlive this object.
  explicit CServiceMonitors(const LocalRecordPoster& post);
  ~CServiceMonitors();
  CServiceMonitors(const CServiceMonitors&) = delete;
  CServiceMonitors& operator=(const CServiceMonitors&) = delete;

 private:
  CMonitorSet monitors_;
};

}  // namespace qv
