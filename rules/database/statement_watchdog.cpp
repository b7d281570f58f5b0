#include "rules/database/statement_watchdog.h"

namespace qv {

CStatementWatchdog::~CStatementWatchdog() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void CStatementWatchdog::Arm(Clock::duration limit, std::function<void()> cancel) {
  {
    std::lock_guard lock(mutex_);
    armed_ = true;
    fired_ = false;
    deadline_ = Clock::now() + limit;
    cancel_ = std::move(cancel);
  }
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  wake_.notify_one();
}

bool CStatementWatchdog::Disarm() {
  std::lock_guard lock(mutex_);  // waits for a cancel under way
  armed_ = false;
  cancel_ = nullptr;
  return fired_;
}

void CStatementWatchdog::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (!armed_) {
      wake_.wait(lock);
    } else if (Clock::now() < deadline_) {
      wake_.wait_until(lock, deadline_);
    } else {
      // Under the lock, so that the statement is not freed while it is being cancelled.
      cancel_();
      fired_ = true;
      armed_ = false;
    }
  }
}

}  // namespace qv
