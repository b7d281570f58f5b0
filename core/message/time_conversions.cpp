#include "core/message/time_conversions.h"

#include <ctime>

namespace qv {
namespace {

constexpr int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int64_t LeapYearsBefore(int64_t year) { return (year - 1) / 4 - (year - 1) / 100 + (year - 1) / 400; }

// Days from 1 January 1970 to the first day of `month` (0..11) of `year`; years before 1970
// count no whole years.
int64_t DaysBeforeMonth(int year, int month) {
  int64_t days = 0;
  if (year > 1970) days = 365 * (int64_t{year} - 1970) + LeapYearsBefore(year) - LeapYearsBefore(1970);
  for (int m = 0; m < month; ++m) days += kDaysPerMonth[m];
  if (month >= 2 && IsLeapYear(year)) ++days;
  return days;
}

}  // namespace

bool IsLeapYear(int year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

UtcNow CurrentUtcSeconds() {
  // The clock's seconds since 1970 are the UTC calendar's seconds: leap seconds are not counted.
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<int32_t>(now.tv_sec), static_cast<uint16_t>(now.tv_nsec / 1000000)};
}

int UtcYearOf(int64_t secondsSince1970) {
  // Civil calendar from a day count (H. Hinnant's days_from_civil, inverted), without the time
  // zone machinery that gmtime would lock.
  const int64_t days = (secondsSince1970 >= 0 ? secondsSince1970 : secondsSince1970 - 86399) / 86400 + 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 is March
  return static_cast<int>(yearOfEra + era * 400 + (monthIndex >= 10 ? 1 : 0));
}

double CalendarToNtpSeconds(const CalendarFields& fields, int milliseconds) {
  const int month = (fields.month < 0 || fields.month > 11) ? 0 : fields.month;
  const int64_t days = DaysBeforeMonth(fields.yearsSince1900 + 1900, month) + fields.dayOfMonth - 1;
  const int64_t seconds = ((days * 24 + fields.hour) * 60 + fields.minute) * 60 + fields.second;
  return static_cast<double>(seconds) + milliseconds * 0.001 + static_cast<double>(kNtpToUnixOffset);
}

}  // namespace qv
