#include "core/message/time_conversions.h"

#include <gtest/gtest.h>

#include <ctime>

namespace qv {
namespace {

int64_t UnixSeconds(CalendarFields fields) {
  return static_cast<int64_t>(CalendarToNtpSeconds(fields, 0)) - kNtpToUnixOffset;
}

TEST(TimeConversionsTest, LeapYearsCountTheirExtraDay) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  // 29 February 2024 and 1 March 2023, 12:00 UTC.
  EXPECT_EQ(UnixSeconds({0, 0, 12, 29, 1, 124}), 1709208000);
  EXPECT_EQ(UnixSeconds({0, 0, 12, 1, 2, 123}), 1677672000);
  EXPECT_EQ(UnixSeconds({0, 0, 0, 1, 0, 70}), 0);
  // Days beyond the month carry: 31 February is 3 March in a common year, 2 March in a leap year.
  EXPECT_EQ(UnixSeconds({0, 0, 12, 31, 1, 123}), UnixSeconds({0, 0, 12, 3, 2, 123}));
  EXPECT_EQ(UnixSeconds({0, 0, 12, 31, 1, 124}), UnixSeconds({0, 0, 12, 2, 2, 124}));
  // A month outside 0..11 counts as January.
  EXPECT_EQ(UnixSeconds({0, 0, 0, 1, 12, 123}), UnixSeconds({0, 0, 0, 1, 0, 123}));
}

TEST(TimeConversionsTest, UtcYearMatchesTheCalendarAroundNewYear) {
  for (int64_t t : {int64_t{0}, int64_t{-1}, int64_t{951782400}, int64_t{1767225599}, int64_t{1767225600},
                    int64_t{2147483647}, int64_t{-2147483648}}) {
    const time_t value = static_cast<time_t>(t);
    std::tm utc{};
    gmtime_r(&value, &utc);
    EXPECT_EQ(UtcYearOf(t), utc.tm_year + 1900) << t;
  }
}

TEST(TimeConversionsTest, NtpSecondsCarryMilliseconds) {
  EXPECT_DOUBLE_EQ(CalendarToNtpSeconds({0, 0, 0, 1, 0, 70}, 250), 2208988800.25);
}

TEST(TimeConversionsTest, CurrentUtcSecondsFollowsTheSystemClock) {
  const time_t before = std::time(nullptr);
  const UtcNow now = CurrentUtcSeconds();
  const time_t after = std::time(nullptr);
  EXPECT_GE(now.seconds, before);
  EXPECT_LE(now.seconds, after + 1);  // time() reads the coarse clock, a tick behind
  EXPECT_LT(now.milliseconds, 1000);
}

}  // namespace
}  // namespace qv
