#pragma once
// One event-log translator per event log, started and stopped together.
//
// StartEventLogMonitors enumerates the logs (the sub-keys of
// SYSTEM\CurrentControlSet\Services\Eventlog, re-counting after every step) and opens and starts
// a CEventLogMonitor for each, in a table of kMaxLogs slots indexed by the log's position among
// the sub-keys; logs beyond the table are not translated. A second start while started does
// nothing. StopEventLogMonitors stops and destroys every translator and clears the table.
//
// Threading: call from the owner's thread only.

#include <array>
#include <memory>

#include "monitors/event_log_monitor.h"

namespace qv {

class CEventLogMonitors {
 public:
  static constexpr std::size_t kMaxLogs = 16;

  CEventLogMonitors() = default;
  ~CEventLogMonitors() { StopEventLogMonitors(); }
  CEventLogMonitors(const CEventLogMonitors&) = delete;
  CEventLogMonitors& operator=(const CEventLogMonitors&) = delete;

  void StartEventLogMonitors();
  void StopEventLogMonitors();

  bool Started() const { return started_; }
  // The translator in `slot`, or null.
  const CEventLogMonitor* Slot(std::size_t slot) const { return slots_.at(slot).get(); }

 private:
  std::array<std::unique_ptr<CEventLogMonitor>, kMaxLogs> slots_;
  bool started_ = false;
};

}  // namespace qv
