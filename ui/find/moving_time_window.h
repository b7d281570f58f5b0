#pragma once
// Moves a time window chosen as "the last N seconds" with the clock: at most once a second it
// asks the list to raise the window's lower bound to now - N, so that old messages leave while
// new arrivals keep joining (the window is open towards the future). It stops by itself as soon
// as the list shows another filter, which the list says by refusing the move.
//
// The clock is injected so that tests can drive it; the timer is a QTimer, so the owner's thread
// must run a Qt event loop. User-interface thread only.

#include <QTimer>

#include <cstdint>
#include <ctime>
#include <functional>

#include "ui/find/filter_target.h"

namespace qv {

class CMovingTimeWindow {
 public:
  using Clock = std::function<std::time_t()>;
  static constexpr int kPeriodMs = 1000;

  // `clock` empty: the system's time.
  explicit CMovingTimeWindow(Clock clock = {});
  CMovingTimeWindow(const CMovingTimeWindow&) = delete;
  CMovingTimeWindow& operator=(const CMovingTimeWindow&) = delete;

  // Moves the window of the last `seconds` shown on `target` from now on, instead of any window
  // moved before. `target` must outlive the moving (or Stop be called first).
  void Start(CFilterTarget& target, uint32_t seconds);
  void Stop();
  bool IsMoving() const { return target_ != nullptr; }

  // One step, as the timer takes it: the lower bound becomes clock() - seconds; stops when the
  // target refuses.
  void Tick();

 private:
  Clock clock_;
  QTimer timer_;
  CFilterTarget* target_ = nullptr;
  uint32_t seconds_ = 0;
};

}  // namespace qv
