#include "rules/actions/substitute_macros.h"

#include <functional>

#include "core/message/names.h"

namespace qv {
namespace {

// Replaces every occurrence of `macro`, left to right; the value is made only when needed.
// Stops as soon as the result reaches kMaxExpandedMacroText and cuts it there, so that one step
// costs at most the limit plus one value, however often the macro occurs.
void ReplaceAll(std::string& text, std::string_view macro, const std::function<std::string()>& value) {
  std::size_t at = text.find(macro);
  if (at == std::string::npos) return;
  const std::string replacement = value();
  std::string result;
  std::size_t from = 0;
  for (; at != std::string::npos && result.size() < kMaxExpandedMacroText; at = text.find(macro, from)) {
    result.append(text, from, at - from);
    result += replacement;
    from = at + macro.size();
  }
  if (result.size() < kMaxExpandedMacroText) result.append(text, from, std::string::npos);
  if (result.size() > kMaxExpandedMacroText) result.resize(kMaxExpandedMacroText);
  text = std::move(result);
}

}  // namespace

std::string SubstituteMacros(std::string_view text, const SyslogMessage& message, bool databaseValue) {
  std::string result(text.substr(0, kMaxExpandedMacroText));
  if (result.find('$') == std::string::npos) return result;
  ReplaceAll(result, "$facility", [&] { return std::string(FacilityName(message.facility)); });
  ReplaceAll(result, "$hostname", [&] { return message.hostName; });
  ReplaceAll(result, "$ipaddr", [&] { return message.ipAddress; });
  ReplaceAll(result, "$severity", [&] { return std::string(SeverityName(message.severity)); });
  ReplaceAll(result, "$recvtime", [&] { return message.FormatTimeReceived(); });
  ReplaceAll(result, "$recvstdtime", [&] { return message.FormatTimeReceivedStd(); });
  ReplaceAll(result, "$msg", [&] { return message.message; });
  ReplaceAll(result, "$all", [&] { return databaseValue ? message.FormatExportLine() : message.FormatExportText(); });
  return result;
}

}  // namespace qv
