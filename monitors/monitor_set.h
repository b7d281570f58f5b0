#pragma once
// The monitors of one program, for its owner (the service's engine, the windowed program's
// document) to start and stop together: the event-log translators, the file, ping, phone-call
// and SNMP trap monitors.
//
// The monitor objects exist for the life of the set; the ping monitor reads its period and
// timeout when the set is created. StartConfigured starts what is switched on in section
// "Settings", reading the switches at that call: "EventLog" (default 1) the translators of the
// event logs (the first `maxEventLogs` of them: the windowed program's table of 16, every log in
// the service), "FileMonitor", "PingMonitor" and "TapiMonitor" (each default 0) their monitors, and
// "SNMPTrapMonitor" (default kTrapMonitorDefault, off in both programs) the trap monitor.
// StopAll stops all of them, started or not.
//
// Threading: create, start, stop and destroy from the owner's thread.

#include "monitors/call_monitor.h"
#include "monitors/event_log_monitors.h"
#include "monitors/file_monitor.h"
#include "monitors/ping_monitor.h"
#include "monitors/trap_monitor.h"

namespace qv {

class CMonitorSet {
 public:
  // Every monitor hands its findings to `post`, the owner's private channel; the phone-call
  // monitor uses `telephony`, the trap monitor listens on `trapPort` (another port only in tests).
  explicit CMonitorSet(const LocalRecordPoster& post, CTelephonyLibrary& telephony = Telephony(),
                       uint16_t trapPort = CTrapMonitor::kTrapPort);
  CMonitorSet(const CMonitorSet&) = delete;
  CMonitorSet& operator=(const CMonitorSet&) = delete;

  // "SNMPTrapMonitor" when absent, for both programs and the viewer's menu alike: off, because
  // listening on port 162 is a choice the administrator makes, not one a fresh install makes.
  static constexpr int32_t kTrapMonitorDefault = 0;

  void StartConfigured(std::size_t maxEventLogs = CEventLogMonitors::kMaxLogs);
  void StopAll();

  CFileMonitor& FileMonitor() { return fileMonitor_; }
  CPingMonitor& PingMonitor() { return pingMonitor_; }
  CCallMonitor& CallMonitor() { return callMonitor_; }
  CTrapMonitor& TrapMonitor() { return trapMonitor_; }
  CEventLogMonitors& EventLogMonitors() { return eventLogMonitors_; }

 private:
  CFileMonitor fileMonitor_;
  CPingMonitor pingMonitor_;
  CCallMonitor callMonitor_;
  CTrapMonitor trapMonitor_;
  CEventLogMonitors eventLogMonitors_;
};

}  // namespace qv
