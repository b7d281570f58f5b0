#include "ui/store/refresh_coalescer.h"

namespace qv {

CRefreshCoalescer::CRefreshCoalescer(QObject* parent) : QObject(parent) {
  quiet_.setSingleShot(true);
  quiet_.setInterval(kQuietMs);
  latest_.setSingleShot(true);
  latest_.setInterval(kLatestMs);
  connect(&quiet_, &QTimer::timeout, this, &CRefreshCoalescer::Fire);
  connect(&latest_, &QTimer::timeout, this, &CRefreshCoalescer::Fire);
}

void CRefreshCoalescer::Request() {
  quiet_.start();
  if (!latest_.isActive()) latest_.start();
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
