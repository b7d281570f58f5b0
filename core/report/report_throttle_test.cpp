#include "core/report/report_throttle.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using std::chrono::seconds;

TEST(ReportThrottleTest, OneReportPerKindAndIntervalCarriesTheCountHeldBack) {
  CReportThrottle throttle(seconds(60));
  const CReportThrottle::Clock::time_point start{};
  EXPECT_EQ(throttle.Count("tls", start), 1u);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(throttle.Count("tls", start + seconds(i)), std::nullopt);
  EXPECT_EQ(throttle.Count("mail", start + seconds(5)), 1u) << "kinds are held back separately";
  EXPECT_EQ(throttle.Count("tls", start + seconds(60)), 6u);
  EXPECT_EQ(throttle.Count("tls", start + seconds(61)), std::nullopt);
  // Many at once (a forwarder's dropped lines) count as that many.
  EXPECT_EQ(throttle.Count("tls", 500, start + seconds(62)), std::nullopt);
  EXPECT_EQ(throttle.Count("tls", 3, start + seconds(120)), 504u);
  EXPECT_EQ(throttle.Count("lines", 7, start + seconds(120)), 7u);
}

TEST(ReportThrottleTest, HeldBackOccurrencesAreDueOnceTheirIntervalHasPassed) {
  CReportThrottle throttle(seconds(60));
  const CReportThrottle::Clock::time_point start{};
  throttle.Count("tcp", start);
  throttle.Count("tcp", start + seconds(1));
  throttle.Count("tcp", start + seconds(2));
  throttle.Count("udp", start);
  EXPECT_TRUE(throttle.TakeDue(start + seconds(59)).empty());
  const auto due = throttle.TakeDue(start + seconds(60));
  ASSERT_EQ(due.size(), 1u) << "a kind with nothing held back is not due";
  EXPECT_EQ(due[0], (std::pair<std::string, uint64_t>("tcp", 2)));
  EXPECT_TRUE(throttle.TakeDue(start + seconds(200)).empty());
  EXPECT_EQ(throttle.Count("tcp", start + seconds(61)), std::nullopt) << "taking them started a new interval";
}

}  // namespace
}  // namespace qv
