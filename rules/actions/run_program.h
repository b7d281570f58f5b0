#pragma once
// The "Run Program" action: starts a program named in a command text, with macros replaced.
//
// The text is split into words first (spaces and tabs separate words, double quotes group them;
// see platform/process/command_line.h), then the macros are replaced inside each word, then the
// first word is started by name on the search path with the others as its arguments. No shell
// is involved, so whatever a message holds (quotes, ";", "$(...)", line ends) stays inside the
// argument its macro was written in: `notify "$hostname: $msg"` always gives two arguments.

#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

// Starts the program and returns at once; nothing waits for it. Returns 0 when it was started,
// else the errno value of the failure (EINVAL for a text without words, ENOENT for a program
// not on the search path). The action ignores the result.
int RunProgram(std::string_view commandText, const SyslogMessage& message);

}  // namespace qv
