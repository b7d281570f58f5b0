#pragma once
// Watches a list of files and folders and reports when one is created, deleted or modified, or,
// for an entry marked as a log file, each line appended to it. It polls: every poll interval
// (5 seconds) it takes the status of each entry and compares it with what it saw last.
//
// The list comes from the settings ("filecount" in "Settings", "file%d" and "filelog%d" in
// "Files") at every Start; what exists then is the baseline and is not reported. A folder is one
// entry watched through its own modification time and size; its contents are not walked.
// Sizes and times are 64-bit (nanosecond modification times), so files of 2 GB and more and
// quick rewrites that keep the size are seen.
//
// Every finding is reported with severity 6 from "127.0.0.1": "File Monitor: <path> Deleted",
// " Created", " Modified", and "<short name>: <line>" for each appended line of a log file.
//
// Threading: see CMonitorThread. AddEntry is for Init and for tests, before Start.

#include <cstdint>
#include <string>
#include <vector>

#include "monitors/monitor_thread.h"

namespace qv {

class CFileMonitor final : public CMonitorThread {
 public:
  // One appended-line message holds at most this many bytes of a line; a longer line is sent in
  // pieces, so that every piece fits in one datagram.
  static constexpr std::size_t kMaxLineBytes = 32768;
  // A damaged "filecount" of billions would keep Start reading the store for hours.
  static constexpr int32_t kMaxEntries = 10000;

  struct Entry {
    std::string path;
    int64_t modifiedNs = 0;  // 0 when the entry did not exist
    bool exists = false;
    int64_t size = 0;  // 0 when the entry did not exist
    bool log = false;
  };

  explicit CFileMonitor(MonitorReporter reporter);
  ~CFileMonitor() override;

  // Empties the list and loads it from the settings; empty paths are skipped.
  void Init() override;
  // Appends an entry with the path's current status as its baseline.
  void AddEntry(const std::string& path, bool log);
  const std::vector<Entry>& Entries() const { return entries_; }

 protected:
  void Run() override;

 private:
  void CheckEntry(Entry& entry);
  // Sends every line of `path` between the byte offsets `from` and `to`; the stop event cuts it
  // short.
  void ReportAppendedLines(const std::string& path, int64_t from, int64_t to);

  std::vector<Entry> entries_;
};

}  // namespace qv
