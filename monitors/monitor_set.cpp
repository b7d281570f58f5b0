#include "monitors/monitor_set.h"

#include "core/settings/settings_store.h"

namespace qv {

CMonitorSet::CMonitorSet(const LocalRecordPoster& post, CTelephonyLibrary& telephony, uint16_t trapPort)
    : fileMonitor_(PostingReporter(post)),
      pingMonitor_(PostingReporter(post)),
      callMonitor_(PostingReporter(post), telephony),
      trapMonitor_(PostingReporter(post), trapPort),
      eventLogMonitors_(post) {}

void CMonitorSet::StartConfigured(std::size_t maxEventLogs) {
  const CSettingsStore& settings = AppSettings();
  if (settings.GetInt("Settings", "EventLog", 1) != 0) eventLogMonitors_.StartEventLogMonitors(maxEventLogs);
  if (settings.GetInt("Settings", "FileMonitor", 0) != 0) fileMonitor_.Start();
  if (settings.GetInt("Settings", "PingMonitor", 0) != 0) pingMonitor_.Start();
  if (settings.GetInt("Settings", "TapiMonitor", 0) != 0) callMonitor_.Start();
  if (settings.GetInt("Settings", "SNMPTrapMonitor", kTrapMonitorDefault) != 0) trapMonitor_.Start();
}

void CMonitorSet::StopAll() {
  eventLogMonitors_.StopEventLogMonitors();
  fileMonitor_.Stop();
  pingMonitor_.Stop();
  callMonitor_.Stop();
  trapMonitor_.Stop();
}

}  // namespace qv
