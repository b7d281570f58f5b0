#include "service/service_monitors.h"

namespace qv {

// The service's default for "SNMPTrapMonitor" is on.
CServiceMonitors::CServiceMonitors() { monitors_.StartConfigured(1); }

CServiceMonitors::~CServiceMonitors() { monitors_.StopAll(); }

}  // namespace qv
