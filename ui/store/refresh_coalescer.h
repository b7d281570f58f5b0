#pragma once
// Turns the document's stream of refresh requests into view updates: one update per burst,
// 100 ms after the last request, but never later than 250 ms after the first request that is
// still waiting, so that a steady stream of messages (one every 50 ms, say) still updates the
// views four times a second instead of never.
//
// A request costs a clock reading: the quiet timer is not restarted per request but, when it
// expires, waits on for whatever is left of the quiet time since the last request.
//
// Lives on the user-interface thread; refreshDue is emitted from its event loop.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace qv {

class CRefreshCoalescer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kQuietMs = 100;
  static constexpr int kLatestMs = 250;

  explicit CRefreshCoalescer(QObject* parent = nullptr);

  // New messages wait: restarts the quiet time, and starts the latest time if none runs.
  void Request();
  // Forgets a waiting update (the views were updated by other means).
  void Cancel();
  bool pending() const { return quiet_.isActive(); }

 signals:
  void refreshDue();

 private:
  void QuietTimeUp();
  void Fire();

  QElapsedTimer clock_;
  qint64 lastRequest_ = 0;
  QTimer quiet_;
  QTimer latest_;
};

}  // namespace qv
