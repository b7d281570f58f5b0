#pragma once
// Tells when files of one folder whose names start with a given prefix are written, by any
// process, through inotify. SQLite appends every commit to the database's "-wal" file (and
// checkpoints write the database itself), so watching "eventlog.db*" sees each write of a log.
//
// Without inotify (no kernel support, or the per-user watch limit reached) the watcher is
// inactive and its users fall back to checking on a timer. Owned and used by one thread.

#include <string>

namespace qv::evt {

class CFileChangeWatcher {
 public:
  CFileChangeWatcher(const std::string& folder, std::string prefix);
  ~CFileChangeWatcher();
  CFileChangeWatcher(const CFileChangeWatcher&) = delete;
  CFileChangeWatcher& operator=(const CFileChangeWatcher&) = delete;

  bool active() const { return fd_ >= 0; }
  // Readable when notifications are waiting; -1 when inactive.
  int fd() const { return fd_; }
  // Consumes the waiting notifications; true when one of them concerned a watched file.
  bool Drain();

 private:
  int fd_ = -1;
  std::string prefix_;
};

}  // namespace qv::evt
