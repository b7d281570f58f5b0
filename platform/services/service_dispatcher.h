#pragma once
// The service's own side of the manager, for a program that runs one service in its process:
// the dispatcher that connects to the manager, the registration of the control handler, and
// the status reports. The calls keep the shape of the platform's service dispatcher.
//
// A process counts as started by the manager when its environment carries the start mark for
// the service (service_state.h) and the mark matches the start the manager has pending, or,
// for a start by the service's systemd unit, when systemd is its parent and the service is not
// running elsewhere. A process that inherited the mark from the service (a program a rule
// runs) therefore cannot connect: the start it names has been claimed already.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/services/service_types.h"

namespace qv::svc {

struct ServiceTableEntry {
  std::string name;
  std::function<void()> serviceMain;
};

// Connects to the manager, runs `serviceMain` on a new thread and hands every control that
// arrives to the registered handler, on the calling thread. Returns kSuccess once
// `serviceMain` has returned (the service has stopped; a service that never reported stopped
// is recorded as stopped). Returns kFailedServiceControllerConnect at once when the process
// was not started by the manager for this service, kServiceAlreadyRunning when a dispatcher
// already runs in this process.
Status StartServiceCtrlDispatcher(const ServiceTableEntry& entry);

class ServiceStatusHandle;

// Called by the service's main function. The handler runs on the dispatcher's thread, one
// control at a time; the manager's caller waits until it returns. Null when `name` is not the
// service this process dispatches.
ServiceStatusHandle* RegisterServiceCtrlHandler(std::string_view name, std::function<void(uint32_t)> handler);

// Stores `status` where the manager reads it. False when it cannot be stored.
bool SetServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status);

// Queues `control` for this process's own handler, as if the manager had sent it; for a
// service asked to stop by a signal. False when no dispatcher is connected in this process.
bool PostControlToSelf(uint32_t control);

}  // namespace qv::svc
