#include "core/message/names.h"

namespace qv {

const std::array<const char*, 26> kFacilityNames = {
    "kernel", "user",   "mail",   "daemon", "security", "syslog", "printer", "news",    "UUCP",
    "cron",   "authpriv", "FTP",  "NTP",    "audit",    "alert",  "clock",   "local0",  "local1",
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

}  // namespace qv
