#include "service/service_monitors.h"

namespace qv {

// The service's default for "SNMPTrapMonitor" is on, and it translates every event log.
CServiceMonitors::CServiceMonitors(const LocalRecordPoster& post) : monitors_(post) {
  monitors_.StartConfigured(1, CEventLogMonitors::kEveryLog);
}

CServiceMonitors::~CServiceMonitors() { monitors_.StopAll(); }

}  // namespace qv
