#pragma once
// Macros in action parameters: words that begin with "$" and stand for a field or a rendering of
// the message that fired the rule. Used for the program's arguments, the message box text, the
// database statement and the trap's string variable.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

// The longest text SubstituteMacros returns (64 KiB). Macros can multiply a message ("$all"
// repeated), so the result is bounded here rather than by every consumer downstream.
inline constexpr std::size_t kMaxExpandedMacroText = 64 * 1024;

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
// The result never exceeds kMaxExpandedMacroText bytes: once a step's text reaches that length,
// its expansion stops and the text is cut there (later steps still run on what is left).
//
// "$recvtime" reads the setting "timeutc"; the settings are read only when the macro occurs.
std::string SubstituteMacros(std::string_view text, const SyslogMessage& message, bool doubleQuotes);

}  // namespace qv
