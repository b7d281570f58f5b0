#pragma once
// The working lists of the two monitor list editors, "Edit List of Files and Folders to Monitor"
// and "Edit List of Network Devices To Ping", without their windows. Each loads from the
// settings store when opened and writes back only on Save; entries stored beyond the new count
// stay in the store and are ignored by the monitors. Not thread-safe; owned by the dialog.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ui/editors/field_validation.h"

namespace qv {

struct WatchedFile {
  std::string path;
  bool log = false;  // a log file whose appended lines are reported
  bool operator==(const WatchedFile&) const = default;
};

class CFileListEditor {
 public:
  // Rows from "file%d" and "filelog%d" (section "Files") below "filecount"; empty paths skipped.
  void Load();
  const std::vector<WatchedFile>& rows() const { return rows_; }
  // Puts the path at the top; a row with exactly that path is removed first. Empty paths are
  // not added.
  void Add(const std::string& path, bool log);
  // Removes the rows at these positions (any order, duplicates allowed).
  void Remove(std::vector<int> positions);
  void ClearAll() { rows_.clear(); }
  // Writes each row as "file%d"/"filelog%d", then "filecount".
  void Save() const;

 private:
  std::vector<WatchedFile> rows_;
};

inline constexpr uint32_t kPingTimeoutMin = 50, kPingTimeoutMax = 30000;  // milliseconds
inline constexpr uint32_t kPingPollMin = 1, kPingPollMax = 3600;          // seconds

class CPingListEditor {
 public:
  enum class Field { kTimeout, kPollPeriod };
  using Error = FieldError<Field>;

  // Hosts from "ping%d" (section "Pings") below "pingcount", empty ones skipped; the timeout and
  // poll period fields from "pingtimeout" (5000) and "pingpoll" (30).
  void Load();
  // The hosts in the list's order: sorted without regard to case.
  const std::vector<std::string>& hosts() const { return hosts_; }
  std::string timeout;     // field text, milliseconds
  std::string pollPeriod;  // field text, seconds
  // Adds a host unless it is empty or already listed in any letter case; false when not added.
  bool Add(const std::string& host);
  void Remove(std::vector<int> positions);
  void ClearAll() { hosts_.clear(); }
  // Validates the two fields, then writes every host as "ping%d", then "pingcount",
  // "pingtimeout" and "pingpoll". Writes nothing when a field is invalid.
  std::optional<Error> Save() const;

 private:
  void Insert(const std::string& host);
  std::vector<std::string> hosts_;
};

}  // namespace qv
