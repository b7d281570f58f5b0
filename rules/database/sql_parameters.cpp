#include "rules/database/sql_parameters.h"

#include <algorithm>

namespace qv {
namespace {

// The position just past the quoted run that opens at `open`, where the closing character
// doubled stands for itself; the end of the statement when it never closes.
std::size_t QuotedEnd(std::string_view s, std::size_t open, std::string* body) {
  const char quote = s[open];
  for (std::size_t at = open + 1; at < s.size(); ++at) {
    if (s[at] != quote) {
      if (body != nullptr) *body += s[at];
    } else if (at + 1 < s.size() && s[at + 1] == quote) {
      if (body != nullptr) *body += quote;
      ++at;
    } else {
      return at + 1;
    }
  }
  return std::string_view::npos;
}

// The length of the macro that starts at `at`, 0 when none does.
std::size_t MacroAt(std::string_view s, std::size_t at, std::span<const std::string_view> macros) {
  for (const std::string_view macro : macros) {
    if (s.substr(at, macro.size()) == macro) return macro.size();
  }
  return 0;
}

bool HoldsMacro(std::string_view text, std::span<const std::string_view> macros) {
  return std::any_of(macros.begin(), macros.end(),
                     [&](std::string_view macro) { return text.find(macro) != std::string_view::npos; });
}

}  // namespace

SqlWithParameters ParameterizeStatement(std::string_view s, std::span<const std::string_view> macros) {
  SqlWithParameters out;
  std::size_t at = 0;
  // Copies s[at, end) as written and moves on; npos means to the end.
  const auto keep = [&](std::size_t end) {
    end = std::min(end, s.size());
    out.text.append(s, at, end - at);
    at = end;
  };
  while (at < s.size()) {
    const char c = s[at];
    const char next = at + 1 < s.size() ? s[at + 1] : '\0';
    if (c == '\'') {
      std::string body;
      const std::size_t end = QuotedEnd(s, at, &body);
      if (end == std::string_view::npos || !HoldsMacro(body, macros)) {
        keep(end);
      } else {
        out.text += '?';
        out.parameters.push_back(std::move(body));
        at = end;
      }
    } else if (c == '"' || c == '`') {
      keep(QuotedEnd(s, at, nullptr));
    } else if (c == '-' && next == '-') {
      const std::size_t end = s.find('\n', at);
      keep(end == std::string_view::npos ? end : end + 1);
    } else if (c == '/' && next == '*') {
      const std::size_t end = s.find("*/", at + 2);
      keep(end == std::string_view::npos ? end : end + 2);
    } else if (const std::size_t length = c == '$' ? MacroAt(s, at, macros) : 0; length > 0) {
      out.text += '?';
      out.parameters.emplace_back(s.substr(at, length));
      at += length;
    } else {
      out.text += c;
      ++at;
    }
  }
  return out;
}

}  // namespace qv
