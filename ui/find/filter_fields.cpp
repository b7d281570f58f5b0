#include "ui/find/filter_fields.h"

#include <algorithm>
#include <limits>

#include <arpa/inet.h>

namespace qv {

const std::array<const char*, 16> kSeverityFilterNames = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Informational", "Debug",
    "Emergency or Higher", "Alert or Higher", "Critical or Higher", "Error or Higher",
    "Warning or Higher", "Notice or Higher", "Informational or Higher", "Debug or Higher"};

const std::array<TimeWindowEntry, 16> kTimeWindowEntries = {{
    {"Within 1 second", 1},       {"Within 5 seconds", 5},      {"Within 15 seconds", 15},
    {"Within 30 seconds", 30},    {"Within 1 minute", 60},      {"Within 5 minutes", 300},
    {"Within 15 minutes", 900},   {"Within 30 minutes", 1800},  {"Within 1 hour", 3600},
    {"Within 6 hours", 21600},    {"Within 12 hours", 43200},   {"Within 24 hours", 86400},
    {"Within 48 hours", 172800},  {"Within 1 week", 604800},    {"Within 2 weeks", 1209600},
    {"Within 4 weeks", 2419200},
}};

uint32_t AddressFieldValue(const std::string& text) {
  const bool blank = std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '.'; });
  return blank ? 0 : AddressToNumber(text);
}

CRule FilterFields::ToRule() const {
  CRule rule;
  rule.Name = name;
  rule.IP = AddressFieldValue(address);
  rule.Facility = facilityIndex - 1;
  rule.Severity = severityIndex - 1;
  rule.Hostname = hostName;
  rule.Message = message;
  rule.Highlighted = highlighted;
  rule.UseRegExp = useRegExp;
  return rule;
}

FilterFields FilterFields::FromRule(const CRule& rule) {
  FilterFields fields;
  fields.name = rule.Name;
  if (rule.IP != 0) {
    in_addr address{};
    address.s_addr = htonl(rule.IP);
    fields.address = inet_ntoa(address);
  }
  fields.facilityIndex = rule.Facility + 1;
  fields.severityIndex = rule.Severity + 1;
  fields.hostName = rule.Hostname;
  fields.message = rule.Message;
  fields.useRegExp = rule.UseRegExp;
  fields.highlighted = rule.Highlighted;
  fields.seconds = static_cast<uint32_t>(rule.TimeRange);
  return fields;
}

void ApplyTimeWindow(CRule& rule, int64_t moment, uint32_t seconds) {
  constexpr int64_t kLow = std::numeric_limits<int32_t>::min();
  constexpr int64_t kHigh = std::numeric_limits<int32_t>::max();
  const int64_t low = std::clamp<int64_t>(moment - seconds, kLow, kHigh);
  rule.TimeRange = low == 0 ? -1 : static_cast<int32_t>(low);
  rule.timeRangeEnd = static_cast<int32_t>(std::clamp<int64_t>(moment + seconds, kLow, kHigh));
}

}  // namespace qv
