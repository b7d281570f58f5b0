#include "monitors/monitor_thread.h"

#include <utility>

namespace qv {

MonitorReporter PostingReporter(LocalRecordPoster post) {
  return [post = std::move(post)](const std::string& text, int severity, const std::string& sourceAddress) {
    post(MakeLocalRecord(text, severity, sourceAddress));
  };
}

CMonitorThread::CMonitorThread(MonitorReporter reporter) : reporter_(std::move(reporter)) {}

CMonitorThread::~CMonitorThread() { EndWorker(); }

void CMonitorThread::EndWorker() {
  Stop();
  // A worker stuck past the stop wait must still end before this object goes away.
  if (worker_.joinable()) worker_.join();
}

void CMonitorThread::Init() {}

bool CMonitorThread::Stop() {
  stopEvent_.Set();
  if (!worker_.joinable()) return true;
  if (!endedEvent_.Wait(kStopWaitMs)) return false;
  worker_.join();
  return true;
}

void CMonitorThread::Start() {
  if (worker_.joinable()) EndWorker();
  Init();
  stopEvent_.Reset();
  endedEvent_.Reset();
  worker_ = std::thread(&CMonitorThread::WorkerBody, this);
}

bool CMonitorThread::IsRunning() const { return worker_.joinable() && !endedEvent_.IsSet(); }

bool CMonitorThread::WaitPollInterval() const {
  // Only the time running out means "poll again"; the stop event or a failed wait end the run.
  const int fds[] = {stopEvent_.Fd()};
  return WaitForAny(fds, pollIntervalMs_ < 0 ? 0 : pollIntervalMs_) == kWaitTimeout;
}

void CMonitorThread::Report(const std::string& text, int severity, const std::string& sourceAddress) const {
  reporter_(text, severity, sourceAddress);
}

void CMonitorThread::WorkerBody() {
  try {
    Run();
  } catch (...) {
    // A failed monitor degrades to a stopped one; the program goes on.
  }
  endedEvent_.Set();
}

}  // namespace qv
