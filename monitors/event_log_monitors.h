#pragma once
// One event-log translator per event log, started and stopped together.
//
// StartEventLogMonitors enumerates the logs (the sub-keys of
// SYSTEM\CurrentControlSet\Services\Eventlog, re-counting after every step) and opens and starts
// a CEventLogMonitor for each, in a table of slots indexed by the log's position among the
// sub-keys. The windowed program keeps a table of kMaxLogs slots, so logs beyond it are not
// translated there; the service translates every log (kEveryLog). A second start while started
// does nothing. StopEventLogMonitors stops and destroys every translator and clears the table.
//
// Threading: call from the owner's thread only.

#include <cstddef>
#include <limits>
#include <memory>
#include <vector>

#include "monitors/event_log_monitor.h"

namespace qv {

class CEventLogMonitors {
 public:
  static constexpr std::size_t kMaxLogs = 16;
  static constexpr std::size_t kEveryLog = std::numeric_limits<std::size_t>::max();

  // Every translator posts its records to `post`.
  explicit CEventLogMonitors(LocalRecordPoster post) : post_(std::move(post)) {}
  ~CEventLogMonitors() { StopEventLogMonitors(); }
  CEventLogMonitors(const CEventLogMonitors&) = delete;
  CEventLogMonitors& operator=(const CEventLogMonitors&) = delete;

  // Translates the first `maxLogs` logs.
  void StartEventLogMonitors(std::size_t maxLogs = kMaxLogs);
  void StopEventLogMonitors();

  bool Started() const { return started_; }
  // The translator in `slot`, or null.
  const CEventLogMonitor* Slot(std::size_t slot) const { return slot < slots_.size() ? slots_[slot].get() : nullptr; }
  std::size_t SlotCount() const { return slots_.size(); }

 private:
  LocalRecordPoster post_;
  std::vector<std::unique_ptr<CEventLogMonitor>> slots_;
  bool started_ = false;
};

}  // namespace qv
