#include "ui/store/refresh_coalescer.h"

namespace qv {

CRefreshCoalescer::CRefreshCoalescer(QObject* parent) : QObject(parent) {
  quiet_.setSingleShot(true);
  clock_.start();
  latest_.setSingleShot(true);
  latest_.setInterval(kLatestMs);
  connect(&quiet_, &QTimer::timeout, this, &CRefreshCoalescer::QuietTimeUp);
  connect(&latest_, &QTimer::timeout, this, &CRefreshCoalescer::Fire);
}

void CRefreshCoalescer::Request() {
  lastRequest_ = clock_.elapsed();
  if (!quiet_.isActive()) quiet_.start(kQuietMs);
  if (!latest_.isActive()) latest_.start();
}

void CRefreshCoalescer::QuietTimeUp() {
  const qint64 quietFor = clock_.elapsed() - lastRequest_;
  if (quietFor < kQuietMs) {
    quiet_.start(static_cast<int>(kQuietMs - quietFor));
  } else {
    Fire();
  }
}

void CRefreshCoalescer::Cancel() {
  quiet_.stop();
  latest_.stop();
}

void CRefreshCoalescer::Fire() {
  Cancel();
  emit refreshDue();
}

}  // namespace qv
