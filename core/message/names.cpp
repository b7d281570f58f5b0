#include "core/message/names.h"

namespace qv {

const std::array<const char*, 26> kFacilityNames = {
    "kernel", "user",   "mail",   "daemon", "security", "syslog", "printer", "news",    "UUCP",
    "cron",   "security", "FTP",  "NTP",    "audit",    "alert",  "clock",   "local0",  "local1",
    "local2", "local3", "local4", "local5", "local6",   "local7", "Windows", "UNKNOWN"};

const std::array<const char*, 8> kSeverityNames = {"EMERGENCY", "ALERT",  "CRITICAL",      "ERROR",
                                                   "WARNING",   "NOTICE", "INFORMATIONAL", "DEBUG"};
const std::array<const char*, 8> kSeverityListNames = {"Emergency", "Alert",  "Critical",      "Error",
                                                       "Warning",   "Notice", "Informational", "Debug"};
const std::array<const char*, 8> kSeverityThresholdNames = {
    "Emergency or Higher", "Alert or Higher",  "Critical or Higher",      "Error or Higher",
    "Warning or Higher",   "Notice or Higher", "Informational or Higher", "Debug or Higher"};

const std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const char* FacilityName(int32_t facility) {
  if (facility < 0) facility = 0;
  return kFacilityNames[facility >= kFacilityUnknown ? kFacilityUnknown : facility];
}

const char* SeverityName(int32_t severity) {
  if (severity < 0) severity = 0;
  return kSeverityNames[severity % 8];
}

namespace {

// Three characters folded to lower case as one number, so that a month word is found with
// whole-number compares.
constexpr uint32_t PackedMonth(const char* name) {
  constexpr uint32_t kLowerCase = 0x202020;  // sets the case bit of each letter; the names are letters
  return (static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 16 |
          static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 8 | static_cast<uint8_t>(name[2])) |
         kLowerCase;
}

}  // namespace

std::optional<int> MonthIndex(std::string_view word) {
  if (word.size() < 3) return std::nullopt;  // no month name is that short
  const uint32_t head = PackedMonth(word.data());
  for (int i = 0; i < 12; ++i) {
    if (head == PackedMonth(kMonthNames[i])) return i;
  }
  return std::nullopt;
}

}  // namespace qv
