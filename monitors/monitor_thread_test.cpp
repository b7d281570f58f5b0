#include "monitors/monitor_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Polls until stopped, counting Init calls, polls and workers running at once.
class CCountingMonitor final : public CMonitorThread {
 public:
  CCountingMonitor() : CMonitorThread({}) {}
  ~CCountingMonitor() override { EndWorker(); }

  void Init() override {
    initThread = std::this_thread::get_id();
    ++inits;
  }

  std::thread::id initThread;
  std::atomic<int> inits{0};
  std::atomic<int> polls{0};
  std::atomic<int> running{0};
  std::atomic<int> mostRunning{0};
  int ignoreStopForMs = 0;

 protected:
  void Run() override {
    const int now = ++running;
    if (now > mostRunning) mostRunning = now;
    do {
      ++polls;
    } while (WaitPollInterval());
    std::this_thread::sleep_for(milliseconds(ignoreStopForMs));
    --running;
  }
};

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count());
}

TEST(MonitorThreadTest, PollsAtItsIntervalAndStopsAtOnceDuringALongWait) {
  CCountingMonitor monitor;
  EXPECT_EQ(monitor.PollInterval(), 5000);
  monitor.SetPollInterval(20);
  monitor.Start();
  EXPECT_EQ(monitor.inits, 1);
  EXPECT_EQ(monitor.initThread, std::this_thread::get_id());
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_TRUE(monitor.IsRunning());
  EXPECT_GE(monitor.polls, 3);

  monitor.SetPollInterval(600000);
  std::this_thread::sleep_for(milliseconds(50));  // now inside the long wait
  const auto start = Clock::now();
  EXPECT_TRUE(monitor.Stop());
  EXPECT_LT(MsSince(start), 500);
  EXPECT_FALSE(monitor.IsRunning());
  EXPECT_TRUE(monitor.Stop());  // stopping a stopped monitor is harmless
}

TEST(MonitorThreadTest, StartAgainReloadsAndNeverRunsTwoWorkers) {
  CCountingMonitor monitor;
  monitor.SetPollInterval(600000);
  monitor.Start();
  monitor.Start();  // without a Stop in between
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(monitor.inits, 2);
  EXPECT_EQ(monitor.mostRunning, 1);
  EXPECT_TRUE(monitor.Stop());
  monitor.Start();
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_TRUE(monitor.IsRunning());
  EXPECT_EQ(monitor.inits, 3);
}

TEST(MonitorThreadTest, StopGivesUpAfterThreeSecondsButTheWorkerIsNeverAbandoned) {
  auto monitor = std::make_unique<CCountingMonitor>();
  monitor->ignoreStopForMs = 3600;
  monitor->SetPollInterval(600000);
  monitor->Start();
  std::this_thread::sleep_for(milliseconds(20));
  auto start = Clock::now();
  EXPECT_FALSE(monitor->Stop());
  const long waited = MsSince(start);
  EXPECT_GE(waited, 2900);
  EXPECT_LT(waited, 3500);
  EXPECT_TRUE(monitor->IsRunning());
  // Destroying waits for the late worker instead of pulling the object from under it.
  start = Clock::now();
  monitor.reset();
  EXPECT_GE(MsSince(start), 300);
}

}  // namespace
}  // namespace qv
