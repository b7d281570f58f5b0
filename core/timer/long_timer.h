#pragma once
// A repeating timer whose period may be longer than a QTimer can hold: a QTimer keeps its
// interval in 32-bit milliseconds (about 24.8 days), and "Time Mark (Minutes)" allows 60,000
// minutes (41.7 days). This one waits on a single-shot QTimer in steps of at most an hour and,
// after each step, asks its clock whether the next expiry has come.
//
// Expiries keep their cadence from Start (start + n x period). When the clock has jumped past
// several expiries (a suspended machine, a test's clock), one timeout is emitted and the cadence
// starts again from then, rather than a burst of timeouts.
//
// The clock is the steady (monotonic) clock unless the owner gives one; tests give a fake clock
// and shorten the step so that it is looked at often.
//
// Not thread-safe: create, start, stop and destroy on the thread whose event loop runs it.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace qv {

class CLongTimer : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<std::chrono::milliseconds()>;

  explicit CLongTimer(QObject* parent = nullptr, Clock clock = {});

  // (Re)starts with the first timeout one period from now. A period below 1 ms counts as 1 ms.
  void Start(std::chrono::milliseconds period);
  void Stop();
  bool IsActive() const { return active_; }
  std::chrono::milliseconds Period() const { return period_; }

  // The longest single wait on the underlying QTimer (default one hour).
  void SetLongestStep(std::chrono::milliseconds step);

 signals:
  void timeout();

 private:
  void Arm();
  void StepDone();

  Clock clock_;
  QTimer step_;
  bool active_ = false;
  std::chrono::milliseconds period_{0};
  std::chrono::milliseconds next_{0};  // on the clock_'s scale
  std::chrono::milliseconds longestStep_ = std::chrono::hours(1);
};

}  // namespace qv
