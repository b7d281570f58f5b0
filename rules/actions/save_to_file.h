#pragma once
// The "Save to file" action: appends a message, in the format the rule chose (its ActionInt,
// record_formats.h), to a file whose name is a strftime format ("/var/log/quorvel/%Y%m%d.txt"
// names one file per day).
//
// Each line goes to the kernel with one O_APPEND write, so a line is whole on disk when the
// action returns and lines of several rules or programs never mix. Files stay open between
// lines, but before each line the name is looked up (lstat): when it no longer leads to the open
// file (renamed away, as logrotate's move-and-create does; deleted; replaced) the file is let go
// and the name opened anew, created when missing. So rotation needs no signal and loses no
// line: every line lands either in the renamed file or in the new one.
//
// Only a regular file of the running user with one link is written (OpenOwnedFile): the folder
// may be one that others can write. Thread-safe: lines are written on the thread that runs the
// rules, while CloseAll may come from the thread of the actions that wait (action_worker.h).

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/message/record_formats.h"
#include "core/message/syslog_message.h"

namespace qv {

// The longest file name, its terminating zero included; a longer one is not made.
inline constexpr std::size_t kSaveFileNameBuffer = 128;

// `format` formatted with `now` in local time; empty when the result does not fit the buffer
// (or formats to nothing).
std::string SaveFileName(std::string_view format, std::time_t now);

class CSaveToFile {
 public:
  // Files kept open at most; the one written longest ago is closed first.
  static constexpr std::size_t kMaxOpenFiles = 16;

  CSaveToFile() = default;
  ~CSaveToFile();
  CSaveToFile(const CSaveToFile&) = delete;
  CSaveToFile& operator=(const CSaveToFile&) = delete;

  // Appends FormatFileLine(message, format) to the file named by `nameFormat` at `now`,
  // creating the file when it does not exist and never truncating it. False when the name is
  // empty or the file is refused, cannot be opened or written (no part of the line then stays);
  // `failure` (when given) then holds one line naming the file and the reason.
  bool Save(std::string_view nameFormat, RecordFormat format, const SyslogMessage& message, std::time_t now,
            std::string* failure = nullptr);

  // Lets go of every open file (the rules are being replaced).
  void CloseAll();

 private:
  struct OpenFile {
    std::string name;
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    uint64_t lastUse = 0;
  };
  // The descriptor for `name`, opened anew unless the open one is still what the name leads
  // to; -1 with `refusal` set when the file cannot be used.
  int Writer(const std::string& name, std::string* refusal);
  void Close(std::size_t index);

  std::mutex mutex_;  // over files_ and uses_
  std::vector<OpenFile> files_;
  uint64_t uses_ = 0;
};

}  // namespace qv
