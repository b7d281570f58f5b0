#include "core/timer/long_timer.h"

#include <algorithm>

namespace qv {

namespace {

std::chrono::milliseconds SteadyNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

CLongTimer::CLongTimer(QObject* parent, Clock clock)
    : QObject(parent), clock_(clock ? std::move(clock) : Clock(SteadyNow)) {
  step_.setSingleShot(true);
  connect(&step_, &QTimer::timeout, this, &CLongTimer::StepDone);
}

void CLongTimer::Start(std::chrono::milliseconds period) {
  period_ = std::max(period, std::chrono::milliseconds(1));
  next_ = clock_() + period_;
  active_ = true;
  Arm();
}

void CLongTimer::Stop() {
  active_ = false;
  step_.stop();
}

void CLongTimer::SetLongestStep(std::chrono::milliseconds step) {
  longestStep_ = std::max(step, std::chrono::milliseconds(1));
  if (active_) Arm();
}

void CLongTimer::Arm() {
  const std::chrono::milliseconds wait = std::clamp(next_ - clock_(), std::chrono::milliseconds(0), longestStep_);
  step_.start(wait);
}

void CLongTimer::StepDone() {
  if (!active_) return;
  const std::chrono::milliseconds now = clock_();
  if (now < next_) {
    Arm();
    return;
  }
  next_ += period_;
  if (next_ <= now) next_ = now + period_;  // several expiries passed at once: one timeout
  Arm();  // before the signal, so that a receiver may stop or restart the timer
  emit timeout();
}

}  // namespace qv
