#pragma once
// Translates every entry written to one event log, while it runs, into a message record posted
// to the owner's private channel, so that event-log entries take the road of received messages.
//
// OpenLog opens the log and moves past the entries already in it: only entries written after
// that are translated. For each new entry the worker composes "<log>/<source>:<text>", where the
// text is the entry's message formatted from the source's message files ("EventMessageFile" of
// the source's key below the log's key; environment references expanded; files separated by
// ";") or, without one, a space before each insertion string. Line breaks and tabs become
// spaces and runs of spaces one space. The record: facility 24, host the entry's computer,
// address "127.0.0.1", port 514, sent and received times the entry's times, severity 3, 4 or 6 for error, warning and information entries and 5 for the others.
// Entries of the system's own source "quorvel" (exactly so spelled) are not translated back.
//
// Bounds: a formatted message is cut to 1024 bytes and a fallback text to 4095; at most 256
// insertion strings are used. An entry larger than its usual 32 KiB is read whole all the same.
//
// Threading: see CMonitorThread; the worker wakes on the log's change notification or the stop
// event. The log handle is closed when the object is destroyed.

#include <string>

#include "monitors/monitor_thread.h"
#include "platform/eventlog/event_log.h"

namespace qv {

class CEventLogMonitor final : public CMonitorThread {
 public:
  static constexpr std::size_t kMaxFormattedBytes = 1024;
  static constexpr std::size_t kMaxFallbackBytes = 4095;
  static constexpr std::size_t kMaxInsertionStrings = 256;

  // Translated entries go to `post`.
  explicit CEventLogMonitor(LocalRecordPoster post);
  ~CEventLogMonitor() override;

  // Opens `logName` and arms change notification past its newest entry. False when the log
  // cannot be opened or notification cannot be armed; a started worker then only waits for Stop.
  bool OpenLog(const std::string& logName);
  const std::string& LogName() const { return logName_; }

 protected:
  void Run() override;

 private:
  void TranslateNewEntries();
  std::string MessageText(const evt::EventRecord& entry, const std::vector<std::string>& strings) const;

  LocalRecordPoster post_;
  std::string logName_;
  evt::HEventLog log_ = nullptr;
  bool notifying_ = false;
};

}  // namespace qv
