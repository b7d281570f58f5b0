#include "monitors/event_log_monitors.h"

#include <algorithm>

#include "platform/registry/registry.h"

namespace qv {

void CEventLogMonitors::StartEventLogMonitors(std::size_t maxLogs) {
  if (started_) return;
  evt::EnsureDefaultLogs();
  reg::ScopedKey logs;
  if (reg::OpenKey(reg::LocalMachine(), evt::kEventLogKey, reg::Access::kRead, logs.out()) == reg::kSuccess) {
    uint32_t count = 0;
    for (uint32_t index = 0; index < maxLogs; ++index) {
      if (reg::QuerySubKeyCount(logs.get(), &count) != reg::kSuccess || index >= count) break;
      std::string name;
      if (reg::EnumKey(logs.get(), index, &name) != reg::kSuccess) continue;
      auto monitor = std::make_unique<CEventLogMonitor>(post_);
      monitor->OpenLog(name);  // a log that does not open still gets a worker that waits for Stop
      monitor->Start();
      slots_.resize(std::max<std::size_t>(slots_.size(), index + 1));
      slots_[index] = std::move(monitor);
    }
  }
  started_ = true;
}

void CEventLogMonitors::StopEventLogMonitors() {
  if (!started_) return;
  slots_.clear();
  started_ = false;
}

}  // namespace qv
