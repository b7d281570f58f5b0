#pragma once
// Cancels a database statement that runs past its time limit, for the drivers that accept the
// ODBC query timeout but do not keep it (SQLite's driver reads it back as 0 and runs on).
//
// Arm before a statement starts, Disarm when it has returned. If Disarm has not come within the
// limit, the watchdog's thread calls the cancel function once (the driver's SQLCancel, which
// interrupts the statement running on the owner's thread). Disarm waits for a cancel that is
// under way, so the statement stays valid while it is being cancelled, and tells whether the
// cancel ran.
//
// Arm and Disarm come from one owner thread, in pairs. The thread starts with the first Arm and
// ends with the watchdog.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qv {

class CStatementWatchdog {
 public:
  using Clock = std::chrono::steady_clock;

  CStatementWatchdog() = default;
  ~CStatementWatchdog();
  CStatementWatchdog(const CStatementWatchdog&) = delete;
  CStatementWatchdog& operator=(const CStatementWatchdog&) = delete;

  void Arm(Clock::duration limit, std::function<void()> cancel);
  // True when the cancel function ran for this Arm.
  bool Disarm();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  bool stop_ = false;
  bool armed_ = false;
  bool fired_ = false;
  Clock::time_point deadline_;
  std::function<void()> cancel_;
};

}  // namespace qv
