#include "service/service_installer.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/settings/reg.h"
#include "platform/services/service_manager.h"
#include "platform/services/service_record.h"

namespace qv {

namespace {

constexpr size_t kMaxProgramPath = 512;
// A service that stays stop pending longer than this is deleted all the same.
constexpr int kMaxStopPendingRounds = 60;

bool OwnProgramPath(std::string* path) {
  char buffer[kMaxProgramPath + 1];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) > kMaxProgramPath) return false;
  path->assign(buffer, static_cast<size_t>(length));
  return true;
}

}  // namespace

bool AddService(const std::string& displayName, const std::string& description) {
  svc::ServiceConfig config;
  if (!OwnProgramPath(&config.imagePath)) return false;
  svc::ServiceManager manager;
  if (manager.Open() != svc::kSuccess) return false;
  config.name = kServiceName;
  config.displayName = displayName;
  config.serviceType = svc::kOwnProcess | svc::kInteractiveProcess;
  config.startType = svc::kAutoStart;
  config.errorControl = svc::kErrorNormal;
  config.dependencies = "Tcpip";
  svc::ServiceHandle service;
  if (manager.CreateService(config, &service) != svc::kSuccess) return false;
  CReg(svc::ServiceKeyPath(kServiceName)).SetString("Description", description);
  return true;
}

bool RemoveService() {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  if (manager.Open() != svc::kSuccess || manager.OpenService(kServiceName, &service) != svc::kSuccess) return false;
  svc::ServiceStatus status;
  if (service.Control(svc::kControlStop, &status) == svc::kSuccess) {
    for (int round = 0; round < kMaxStopPendingRounds && status.currentState == svc::kStopPending; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      if (service.QueryStatus(&status) != svc::kSuccess) break;
    }
  }
  return service.Delete() == svc::kSuccess;
}

}  // namespace qv
