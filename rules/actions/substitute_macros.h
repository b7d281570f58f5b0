#pragma once
// Macros in action parameters: words that begin with "$" and stand for a field or a rendering of
// the message that fired the rule. Used for the program's arguments, the message box text, the
// database statement and the trap's string variable.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

// The longest text SubstituteMacros returns (64 KiB). Macros can multiply a message ("$all"
// repeated), so the result is bounded here rather than by every consumer downstream.
inline constexpr std::size_t kMaxExpandedMacroText = 64 * 1024;

// The macros, in the order they are replaced. None is a prefix of another.
inline constexpr std::array<std::string_view, 8> kMacroNames = {
    "$facility", "$hostname", "$ipaddr", "$severity", "$recvtime", "$recvstdtime", "$msg", "$all"};

// Replaces, in this order and each over the whole current text, "$facility", "$hostname",
// "$ipaddr", "$severity", "$recvtime", "$recvstdtime", "$msg" and "$all". Every occurrence is
// replaced left to right without overlap; matching is exact and case-sensitive. What one step
// inserts is not searched again for that step's macro, but every later step sees it (a host name
// holding "$msg" is expanded by the "$msg" step).
//
// With `databaseValue` set (a value bound to a database statement), "$all" is the export line
// with its CR LF, as the rows of "Save to Database" have always held it; otherwise it is the
// export text without a line end. Nothing is escaped either way: a database value is bound as
// a parameter, never written into the statement's text.
//
// The result never exceeds kMaxExpandedMacroText bytes: once a step's text reaches that length,
// its expansion stops and the text is cut there (later steps still run on what is left).
//
// "$recvtime" reads the setting "timeutc"; the settings are read only when the macro occurs.
std::string SubstituteMacros(std::string_view text, const SyslogMessage& message, bool databaseValue);

}  // namespace qv
