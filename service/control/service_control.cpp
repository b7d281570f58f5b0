#include "service/control/service_control.h"

#include <chrono>
#include <thread>

#include "platform/services/service_manager.h"
#include "platform/services/service_state.h"

namespace qv {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(250);
constexpr int kStartRounds = 21;
constexpr int kStopRounds = 41;

// The service opened through a freshly opened manager; nothing when either fails.
bool OpenService(const std::string& name, svc::ServiceManager* manager, svc::ServiceHandle* service) {
  return manager->Open() == svc::kSuccess && manager->OpenService(name, service) == svc::kSuccess;
}

bool QueryState(const svc::ServiceHandle& service, uint32_t* state) {
  svc::ServiceStatus status;
  if (service.QueryStatus(&status) != svc::kSuccess) return false;
  *state = status.currentState;
  return true;
}

// Polls until the service reaches `wanted`, at most `rounds` times.
void WaitForState(const svc::ServiceHandle& service, uint32_t wanted, int rounds) {
  uint32_t state = 0;
  for (int round = 0; round < rounds; ++round) {
    std::this_thread::sleep_for(kPollInterval);
    if (QueryState(service, &state) && state == wanted) return;
  }
}

}  // namespace

CServiceControl::CServiceControl(std::string serviceName) : serviceName_(std::move(serviceName)) {}

std::optional<uint32_t> CServiceControl::State() const {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  uint32_t state = 0;
  if (!OpenService(serviceName_, &manager, &service) || !QueryState(service, &state)) return std::nullopt;
  return state;
}

bool CServiceControl::IsInstalled() const {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  uint32_t state = 0;
  return OpenService(serviceName_, &manager, &service) && QueryState(service, &state);
}

bool CServiceControl::IsRunning() const {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  uint32_t state = 0;
  return OpenService(serviceName_, &manager, &service) && QueryState(service, &state) && state == svc::kRunning;
}

bool CServiceControl::Start() const {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  uint32_t state = 0;
  if (!OpenService(serviceName_, &manager, &service) || !QueryState(service, &state)) return false;
  if (state == svc::kRunning) return true;
  if (service.Start() != svc::kSuccess) return false;
  WaitForState(service, svc::kRunning, kStartRounds);
  return true;
}

bool CServiceControl::Stop() const {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  uint32_t state = 0;
  if (!OpenService(serviceName_, &manager, &service) || !QueryState(service, &state) || state != svc::kRunning) {
    return false;
  }
  svc::ServiceStatus status;
  if (service.Control(svc::kControlStop, &status) != svc::kSuccess) return false;
  WaitForState(service, svc::kStopped, kStopRounds);
  return true;
}

std::string CServiceControl::Failure() const {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  if (!OpenService(serviceName_, &manager, &service)) return "";
  return svc::CServiceStateFile(serviceName_).Read().failure;
}

bool CServiceControl::SetDemandStart() const { return SetStartType(svc::kDemandStart); }

bool CServiceControl::SetAutoStart() const { return SetStartType(svc::kAutoStart); }

bool CServiceControl::SetStartType(uint32_t startType) const {
  svc::ServiceManager manager;
  if (manager.Open() != svc::kSuccess) return false;
  svc::DatabaseLock lock;
  const svc::Status locked = manager.LockDatabase(&lock);
  if (locked == svc::kServiceDatabaseLocked) {
    // Someone else holds the lock; asking who only has to succeed, then the change goes ahead.
    svc::LockStatus lockStatus;
    if (manager.QueryLockStatus(&lockStatus) != svc::kSuccess) return false;
  } else if (locked != svc::kSuccess) {
    return false;
  }
  svc::ServiceHandle service;
  return manager.OpenService(serviceName_, &service) == svc::kSuccess &&
         service.ChangeStartType(startType) == svc::kSuccess;
}

std::string_view ServiceStateName(uint32_t state) {
  static constexpr std::string_view kNames[] = {"STOPPED",          "START_PENDING", "STOP_PENDING", "RUNNING",
                                                "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
  return state >= 1 && state <= 7 ? kNames[state - 1] : "UNKNOWN";
}

}  // namespace qv
