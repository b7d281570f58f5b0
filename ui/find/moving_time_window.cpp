#include "ui/find/moving_time_window.h"

#include "ui/find/filter_fields.h"

namespace qv {

CMovingTimeWindow::CMovingTimeWindow(Clock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::time(nullptr); };
  timer_.setInterval(kPeriodMs);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
}

void CMovingTimeWindow::Start(CFilterTarget& target, uint32_t seconds) {
  target_ = &target;
  seconds_ = seconds;
  timer_.start();
}

void CMovingTimeWindow::Stop() {
  timer_.stop();
  target_ = nullptr;
}

void CMovingTimeWindow::Tick() {
  if (target_ == nullptr) return;
  if (!target_->MoveTimeWindow(RecentWindowLow(static_cast<int64_t>(clock_()), seconds_))) Stop();
}

}  // namespace qv
