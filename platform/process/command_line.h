#pragma once
// Splits the text of a command into the words that become a program's arguments.
//
// Words are separated by runs of spaces and tabs. A double quote starts or ends a quoted part,
// in which spaces and tabs belong to the word; the quotes themselves are removed, and quoted and
// unquoted parts that touch form one word ("a"b" c" gives `ab c`). A pair of quotes with nothing
// between them gives an empty word. An unterminated quote runs to the end of the text. No other
// character is special: backslashes, "$", ";" and the like stay as they are, since no shell ever
// sees the words.
//
// Callers replace their macros inside each word afterwards, so whatever a macro expands to stays
// inside the word it was written in.

#include <string>
#include <string_view>
#include <vector>

namespace qv {

std::vector<std::string> SplitCommandLine(std::string_view text);

}  // namespace qv
