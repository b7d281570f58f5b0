#include "service/service_monitors.h"

namespace qv {

// The service translates every event log.
CServiceMonitors::CServiceMonitors(const LocalRecordPoster& post) : monitors_(post) {
  monitors_.StartConfigured(CEventLogMonitors::kEveryLog);
}

CServiceMonitors::~CServiceMonitors() { monitors_.StopAll(); }

}  // namespace qv
