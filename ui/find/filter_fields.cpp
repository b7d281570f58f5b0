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

namespace {

// One dotted part: blank (0), or a number 0..255 with blanks around it.
std::optional<uint32_t> ParseOctet(std::string_view part) {
  const std::size_t first = part.find_first_not_of(' ');
  if (first == std::string_view::npos) return 0u;
  const std::string_view digits = part.substr(first, part.find_last_not_of(' ') + 1 - first);
  uint32_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
    if (value > 255) return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<uint32_t> ParseAddressField(std::string_view text) {
  uint32_t address = 0;
  int parts = 0;
  for (std::size_t start = 0;;) {
    const std::size_t dot = text.find('.', start);
    if (++parts > 4) return std::nullopt;
    const std::optional<uint32_t> octet = ParseOctet(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (!octet) return std::nullopt;
    address = (address << 8) | *octet;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return address << (8 * (4 - parts));  // missing parts are blank fields
}

std::string AddressFieldText(uint32_t address) {
  if (address == 0) return {};
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

uint32_t AddressFieldValue(const std::string& text) { return ParseAddressField(text).value_or(0xFFFFFFFFu); }

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

int32_t RecentWindowLow(int64_t now, uint32_t seconds) {
  const int64_t low = std::clamp<int64_t>(now - seconds, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max());
  return low == 0 ? -1 : static_cast<int32_t>(low);
}

void ApplyRecentWindow(CRule& rule, int64_t now, uint32_t seconds) {
  rule.TimeRange = RecentWindowLow(now, seconds);
  rule.timeRangeEnd = CRule::kTimeRangeEndOpen;
}

}  // namespace qv
