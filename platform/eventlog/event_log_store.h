#pragma once
// The records of every event log, in the SQLite database "eventlog.db" in the folder "eventlog"
// of the data root. The folder holds nothing else, so that a watch on it wakes the event-log
// readers only for writes of the logs, not for every line of the history beside it.
//
// Tables: `logs` (one row per log that ever had a record: its newest record number, how many
// records it holds and their bytes) and `records` (log, number, the record in its read layout).
// The records of a log are always the contiguous numbers newest - count + 1 .. newest.
//
// One connection per process, reopened when the data root changes (tests move it); a mutex
// serialises its use, and every write is one immediate transaction, so several processes append
// to the same log without ever giving two records one number. Used by event_log.cpp only.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/eventlog/event_log.h"
#include "platform/eventlog/event_record.h"

namespace qv::evt {

// "<data root>/eventlog", created (mode 0700) when missing; empty when it cannot be.
std::string EventLogFolder();


struct LogSpan {
  uint32_t oldest = 0;  // 0 when the log is empty
  uint32_t newest = 0;  // number of the last record ever written, kept when records are removed
  uint32_t count = 0;
};

class CEventLogStore {
 public:
  static CEventLogStore& Instance();

  // Numbers `record`, stamps its time written (and its time generated when 0), stores it, and
  // removes the oldest records while the log's records take more than `maxBytes` (the newest
  // record always stays).
  Status Append(std::string_view logName, EventRecord& record, uint64_t maxBytes);

  Status GetSpan(std::string_view logName, LogSpan* span);

  // Appends to `out` the records from number `first` onwards (or downwards), as long as they fit
  // in `capacity` bytes together. `last` receives the number of the last record copied. When the
  // first record alone is larger than `capacity`, `firstSize` receives its size and the result is
  // kInsufficientBuffer; kHandleEof when there is no record in that direction.
  Status Read(std::string_view logName, uint32_t first, bool forwards, std::size_t capacity, std::string* out,
              uint32_t* last, uint32_t* firstSize);

  CEventLogStore(const CEventLogStore&) = delete;
  CEventLogStore& operator=(const CEventLogStore&) = delete;

 private:
  CEventLogStore();
  ~CEventLogStore();
  struct Connection;
  Connection* connection_;
};

}  // namespace qv::evt
