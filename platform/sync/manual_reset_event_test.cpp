#include "platform/sync/manual_reset_event.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

TEST(ManualResetEventTest, StaysSetUntilResetAndRepeatedSetsNeedOneReset) {
  CManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  event.Set();
  event.Set();
  EXPECT_TRUE(event.IsSet());
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(-1));  // waiting does not consume the signal
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  event.Reset();  // resetting a clear event is harmless
  EXPECT_FALSE(event.IsSet());
}

TEST(ManualResetEventTest, WaitTimesOutAfterItsTime) {
  CManualResetEvent event;
  const auto start = Clock::now();
  EXPECT_FALSE(event.Wait(120));
  const long elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 115);
  EXPECT_LT(elapsed, 2000);
}

TEST(ManualResetEventTest, SetFromAnotherThreadWakesEveryWaiter) {
  CManualResetEvent event;
  bool woke[2] = {false, false};
  std::thread first([&] { woke[0] = event.Wait(10000); });
  std::thread second([&] { woke[1] = event.Wait(10000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = Clock::now();
  event.Set();
  first.join();
  second.join();
  EXPECT_TRUE(woke[0]);
  EXPECT_TRUE(woke[1]);
  EXPECT_LT(ElapsedMs(start), 1000);
}

TEST(ManualResetEventTest, WaitForAnyNamesTheFirstReadyDescriptorInListOrder) {
  CManualResetEvent stop;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const int fds[] = {stop.Fd(), pipeFds[0]};

  EXPECT_EQ(WaitForAny(fds, 20), kWaitTimeout);
  ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
  EXPECT_EQ(WaitForAny(fds, 1000), 1);
  stop.Set();
  EXPECT_EQ(WaitForAny(fds, 1000), 0);  // the stop event wins when both are ready

  close(pipeFds[0]);
  close(pipeFds[1]);
}

}  // namespace
}  // namespace qv
