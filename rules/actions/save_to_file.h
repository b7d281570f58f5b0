#pragma once
// The "Save to file" action: appends the record line of a message to a file whose name is a
// strftime format ("/var/log/quorvel/%Y%m%d.txt" names one file per day).

#include <ctime>
#include <string>
#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

// The longest file name, its terminating zero included; a longer one is not made.
inline constexpr std::size_t kSaveFileNameBuffer = 128;

// `format` formatted with `now` in local time; empty when the result does not fit the buffer
// (or formats to nothing).
std::string SaveFileName(std::string_view format, std::time_t now);

// Appends the message's FormatRecordLine (which ends with CR LF) to the file named by `format`
// at `now`, creating the file when it does not exist and never truncating it. Only a regular
// file of the running user with one link is written (OpenOwnedFile): the folder may be one that
// others can write. False when the name is empty or the file is refused, cannot be opened or
// written; `failure` (when given) then holds one line naming the file and the reason.
bool SaveToFile(std::string_view format, const SyslogMessage& message, std::time_t now,
                std::string* failure = nullptr);

}  // namespace qv
