#include "service/service_monitors.h"

#include "core/settings/settings_store.h"

namespace qv {

CServiceMonitors::CServiceMonitors() {
  monitors_.StartConfigured();
  if (AppSettings().GetInt("Settings", "SNMPTrapMonitor", 1) != 0) {
    trapMonitor_ = std::make_unique<CTrapMonitor>();
    trapMonitor_->Start();
  }
}

CServiceMonitors::~CServiceMonitors() {
  if (trapMonitor_) trapMonitor_->Stop();
  monitors_.StopAll();
}

}  // namespace qv
