#pragma once
// The file, ping and phone-call monitors of one program, for its owner (the service's engine,
// the windowed program's document) to start and stop together.
//
// All three objects exist for the life of the set; the ping monitor reads its period and timeout
// when the set is created. StartConfigured starts each monitor whose switch in section
// "Settings" is on ("FileMonitor", "PingMonitor", "TapiMonitor", each default 0), reading the
// switches at that call; StopAll stops all of them, started or not.
//
// Threading: create, start, stop and destroy from the owner's thread.

#include "monitors/call_monitor.h"
#include "monitors/file_monitor.h"
#include "monitors/ping_monitor.h"

namespace qv {

class CMonitorSet {
 public:
  // An empty reporter means LocalSyslogReporter(); the phone-call monitor uses `telephony`.
  explicit CMonitorSet(MonitorReporter reporter = {}, CTelephonyLibrary& telephony = Telephony());
  CMonitorSet(const CMonitorSet&) = delete;
  CMonitorSet& operator=(const CMonitorSet&) = delete;

  void StartConfigured();
  void StopAll();

  CFileMonitor& FileMonitor() { return fileMonitor_; }
  CPingMonitor& PingMonitor() { return pingMonitor_; }
  CCallMonitor& CallMonitor() { return callMonitor_; }

 private:
  CFileMonitor fileMonitor_;
  CPingMonitor pingMonitor_;
  CCallMonitor callMonitor_;
};

}  // namespace qv
