#pragma once
// Macros in action parameters: words that begin with "$" and stand for a field or a rendering of
// the message that fired the rule. Used for the program's arguments, the message box text, the
// database statement and the trap's string variable.

#include <string>
#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

// Replaces, in this order and each over the whole current text, "$facility", "$hostname",
// "$ipaddr", "$severity", "$recvtime", "$recvstdtime", "$msg" and "$all". Every occurrence is
// replaced left to right without overlap; matching is exact and case-sensitive. What one step
// inserts is not searched again for that step's macro, but every later step sees it (a host name
// holding "$msg" is expanded by the "$msg" step).
//
// With `doubleQuotes` set (database statements) the values of "$msg" and "$all" have every "'"
// doubled, so that they stay inside an SQL string literal, and "$all" is the export line with
// its CR LF; the values of the other macros are inserted as they are.
//
// "$recvtime" reads the setting "timeutc"; the settings are read only when the macro occurs.
std::string SubstituteMacros(std::string_view text, const SyslogMessage& message, bool doubleQuotes);

}  // namespace qv
