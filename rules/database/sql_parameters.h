#pragma once
// A rule's SQL statement turned into one whose text never carries a received message: every
// place a macro fills becomes an ODBC parameter marker ("?"), and the text that marker stands
// for is kept aside, to be expanded and bound as character data when a message arrives.
//
//   INSERT INTO log VALUES ('$hostname: $msg', $severity, 'fixed')
//   -> text        INSERT INTO log VALUES (?, ?, 'fixed')
//      parameters  "$hostname: $msg", "$severity"
//
// - A string literal ('...') that holds a macro becomes one parameter: its text between the
//   quotes, with each doubled quote ('') read as one quote. A literal without a macro stays as
//   written.
// - A macro outside any literal becomes a parameter of its own.
// - Quoted identifiers ("..." and `...`) and comments (-- to the end of the line, /* ... */)
//   stay as written, macros in them included: an identifier or a comment cannot be a parameter,
//   and expanding a message into them would put its bytes into the statement.
// - Everything else is sent as the user wrote it. Only the standard quote doubling is read
//   inside literals; a prefixed literal (E'...', N'...') that holds a macro loses its quotes but
//   keeps its prefix, which the driver then refuses as a syntax error, reported like any other.
//   An unterminated literal or identifier runs to the end and stays as written.
//
// The macro names are the caller's (the rules' macro table); none may be a prefix of another.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct SqlWithParameters {
  std::string text;                     // the statement for the driver, "?" per parameter
  std::vector<std::string> parameters;  // per marker, in order: the text to expand and bind
};

SqlWithParameters ParameterizeStatement(std::string_view statement, std::span<const std::string_view> macros);

}  // namespace qv
