#pragma once
// The two time conversions that parsing and the rule actions use. Times are 32-bit seconds
// since 1970 (UTC), as everywhere in the record.

#include <cstdint>

namespace qv {

struct UtcNow {
  int32_t seconds;        // whole seconds since 1 January 1970, UTC
  uint16_t milliseconds;  // 0..999
};

// The system clock in UTC.
UtcNow CurrentUtcSeconds();

// Calendar fields in the layout of struct tm (month 0..11, year since 1900). Day, hour, minute
// and second are not range-checked: they carry into the next unit, as syslog time stamps may ask.
struct CalendarFields {
  int second = 0;
  int minute = 0;
  int hour = 0;
  int dayOfMonth = 1;  // 1..31
  int month = 0;       // 0..11; any other value counts as January
  int yearsSince1900 = 70;
};

// Seconds since 1 January 1900 (the network time scale) for the given UTC calendar fields.
double CalendarToNtpSeconds(const CalendarFields& fields, int milliseconds);

// Seconds from 1 January 1900 to 1 January 1970.
inline constexpr int64_t kNtpToUnixOffset = 2208988800;

bool IsLeapYear(int year);

// The UTC calendar year of a time.
int UtcYearOf(int64_t secondsSince1970);

}  // namespace qv
