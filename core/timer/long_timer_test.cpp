#include "core/timer/long_timer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

namespace qv {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "long_timer_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Runs the event loop for a while of real time, or until `done`.
void RunEvents(int realMs, const std::function<bool()>& done = [] { return false; }) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (elapsed.elapsed() < realMs && !done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// "timemark" at its largest, 60,000 minutes, is past what a QTimer holds in 32-bit milliseconds
// (35,791 minutes). On a fake clock that jumps, the timeouts come exactly at each period.
TEST(LongTimerTest, SixtyThousandMinutesFireOnTimeOnAFakeClock) {
  App();
  milliseconds now{1000};
  CLongTimer timer(nullptr, [&now] { return now; });
  timer.SetLongestStep(milliseconds(1));
  int timeouts = 0;
  QObject::connect(&timer, &CLongTimer::timeout, [&timeouts] { ++timeouts; });
  const milliseconds period = minutes(60000);
  ASSERT_GT(period.count(), INT32_MAX);
  timer.Start(period);
  EXPECT_TRUE(timer.IsActive());

  struct Step {
    milliseconds at;  // fake time after the start
    int timeouts;     // expected by then
  };
  const Step steps[] = {{milliseconds(0), 0},
                        {minutes(35792), 0},  // where 32 bits run out
                        {period - milliseconds(1), 0},
                        {period, 1},
                        {2 * period - milliseconds(1), 1},
                        {2 * period + milliseconds(5), 2},
                        {7 * period, 3}};  // a jump over several periods gives one timeout
  for (const Step& step : steps) {
    now = milliseconds(1000) + step.at;
    RunEvents(2000, [&] { return timeouts >= step.timeouts; });
    RunEvents(30);  // and nothing more
    EXPECT_EQ(timeouts, step.timeouts) << "at " << step.at.count() << " ms";
  }
  now += period - milliseconds(1);  // the cadence restarted at the jump
  RunEvents(30);
  EXPECT_EQ(timeouts, 3);
  now += milliseconds(1);
  RunEvents(2000, [&] { return timeouts == 4; });
  EXPECT_EQ(timeouts, 4);

  timer.Stop();
  now += 2 * period;
  RunEvents(30);
  EXPECT_EQ(timeouts, 4);
  EXPECT_FALSE(timer.IsActive());
}

TEST(LongTimerTest, ShortPeriodsRunOnTheRealClock) {
  App();
  CLongTimer timer;
  int timeouts = 0;
  QObject::connect(&timer, &CLongTimer::timeout, [&] {
    if (++timeouts == 3) timer.Stop();
  });
  timer.Start(milliseconds(10));
  RunEvents(3000, [&] { return timeouts >= 3; });
  EXPECT_EQ(timeouts, 3);
  RunEvents(50);
  EXPECT_EQ(timeouts, 3);
}

}  // namespace
}  // namespace qv
