#include "core/message/time_conversions.h"

#include <ctime>

namespace qv {
namespace {

constexpr int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Days from 1 January 1970 to the first day of `month` (0..11) of `year`.
int64_t DaysBeforeMonth(int year, int month) {
  int64_t days = 0;
  for (int y = 1970; y < year; ++y) days += IsLeapYear(y) ? 366 : 365;
  for (int m = 0; m < month; ++m) days += kDaysPerMonth[m];
  if (month >= 2 && IsLeapYear(year)) ++days;
  return days;
}

}  // namespace

bool IsLeapYear(int year) { return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0); }

UtcNow CurrentUtcSeconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm fields{};
  gmtime_r(&now.tv_sec, &fields);
  const int64_t days = DaysBeforeMonth(fields.tm_year + 1900, fields.tm_mon) + fields.tm_mday - 1;
  const int64_t seconds = days * 86400 + fields.tm_hour * 3600 + fields.tm_min * 60 + fields.tm_sec;
  return {static_cast<int32_t>(seconds), static_cast<uint16_t>(now.tv_nsec / 1000000)};
}

double CalendarToNtpSeconds(const CalendarFields& fields, int milliseconds) {
  const int month = (fields.month < 0 || fields.month > 11) ? 0 : fields.month;
  const int64_t days = DaysBeforeMonth(fields.yearsSince1900 + 1900, month) + fields.dayOfMonth - 1;
  const int64_t seconds = ((days * 24 + fields.hour) * 60 + fields.minute) * 60 + fields.second;
  return static_cast<double>(seconds) + milliseconds * 0.001 + static_cast<double>(kNtpToUnixOffset);
}

}  // namespace qv
