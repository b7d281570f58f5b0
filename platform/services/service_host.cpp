#include "platform/services/service_host.h"

#include <chrono>

namespace qv::svc {

namespace {
constexpr uint32_t kStartWaitHintMs = 3000;
constexpr uint32_t kStopWaitHintMs = 35000;
}  // namespace

CServiceHost::CServiceHost(std::string serviceName) : serviceName_(std::move(serviceName)) {}

CServiceHost::~CServiceHost() {
  Finished();
  SetStopEvent();
  if (dispatcher_.joinable()) dispatcher_.join();
}

void CServiceHost::StartDispatcher(std::function<void()> onServiceStopped) {
  StartDispatcher(std::move(onServiceStopped), {});
}

void CServiceHost::StartDispatcher(std::function<void()> onServiceStopped, std::function<void()> onStopRequested) {
  if (dispatcher_.joinable()) return;
  onServiceStopped_ = std::move(onServiceStopped);
  onStopRequested_ = std::move(onStopRequested);
  dispatcher_ = std::thread([this] {
    const Status dispatched = StartServiceCtrlDispatcher({serviceName_, [this] { ServiceMain(); }});
    if (dispatched != kSuccess) {
      SetStopEvent();
      return;
    }
    if (onServiceStopped_) onServiceStopped_();
  });
}

bool CServiceHost::RequestStop() { return PostControlToSelf(kControlStop); }

bool CServiceHost::StopEventIsSet() const {
  const std::lock_guard<std::mutex> lock(stopMutex_);
  return stopSet_;
}

void CServiceHost::ServiceMain() {
  {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    statusHandle_ = RegisterServiceCtrlHandler(serviceName_, [this](uint32_t control) { ServiceCtrlHandler(control); });
    if (statusHandle_ == nullptr) return;
  }
  if (!ReportStatus(kStartPending, 0, kStartWaitHintMs)) return;
  ReportStatus(kRunning, 0, 0);
  WaitForStopEvent();
  if (onStopRequested_) {
    onStopRequested_();
    WaitForFinished();
  }
  ReportStatus(kStopped, 0, 0);
}

void CServiceHost::ServiceCtrlHandler(uint32_t control) {
  if (control == kControlStop) {
    ReportStatus(kStopPending, 0, kStopWaitHintMs);
    SetStopEvent();
    return;
  }
  ReportStatus(kLastState, 0, 0);
}

bool CServiceHost::ReportStatus(uint32_t state, uint32_t exitCode, uint32_t waitHint) {
  bool reported = false;
  {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    if (state == kLastState) state = lastState_;
    ServiceStatus status;
    status.serviceType = kOwnProcess;
    status.currentState = state;
    status.controlsAccepted = state == kStartPending ? 0 : kAcceptStop;
    status.win32ExitCode = exitCode;
    status.checkPoint = (state == kRunning || state == kStopped) ? 0 : checkPoint_++;
    status.waitHint = waitHint;
    lastState_ = state;
    reported = SetServiceStatus(statusHandle_, status);
  }
  if (!reported) SetStopEvent();
  return reported;
}

void CServiceHost::SetStopEvent() {
  {
    const std::lock_guard<std::mutex> lock(stopMutex_);
    stopSet_ = true;
  }
  stopChanged_.notify_all();
}

void CServiceHost::Finished() {
  {
    const std::lock_guard<std::mutex> lock(stopMutex_);
    finished_ = true;
  }
  stopChanged_.notify_all();
}

void CServiceHost::WaitForFinished() {
  std::unique_lock<std::mutex> lock(stopMutex_);
  stopChanged_.wait_for(lock, std::chrono::milliseconds(kStopWaitHintMs), [this] { return finished_; });
}

void CServiceHost::WaitForStopEvent() {
  std::unique_lock<std::mutex> lock(stopMutex_);
  stopChanged_.wait(lock, [this] { return stopSet_; });
}

}  // namespace qv::svc
