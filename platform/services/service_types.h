#pragma once
// Numbers and records shared by both sides of the service manager: the controlling side
// (service_manager.h) and the service's own side (service_dispatcher.h). States, start types,
// controls and status codes keep the numbers of the platform the system was designed for, so
// that values stored in the registry ("Start", "Type") read the same there and here.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qv::svc {

using Status = long;
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;                   // the image could not be started
inline constexpr Status kAccessDenied = 5;                   // the data root or registry is not usable
inline constexpr Status kInvalidHandle = 6;                  // a handle that was never opened
inline constexpr Status kInvalidName = 123;                  // empty name, or one with '/' or '\'
inline constexpr Status kInvalidServiceControl = 1052;       // the service does not accept this control
inline constexpr Status kServiceRequestTimeout = 1053;       // the service did not answer a control in time
inline constexpr Status kServiceDatabaseLocked = 1055;
inline constexpr Status kServiceAlreadyRunning = 1056;
inline constexpr Status kServiceDisabled = 1058;
inline constexpr Status kServiceDoesNotExist = 1060;
inline constexpr Status kServiceCannotAcceptControl = 1061;  // start or stop is pending
inline constexpr Status kServiceNotActive = 1062;
inline constexpr Status kFailedServiceControllerConnect = 1063;  // not started by the manager
inline constexpr Status kServiceExists = 1073;
inline constexpr Status kStoreFailed = 1009;                 // the registry or a state file failed

// Service states.
inline constexpr uint32_t kStopped = 1;
inline constexpr uint32_t kStartPending = 2;
inline constexpr uint32_t kStopPending = 3;
inline constexpr uint32_t kRunning = 4;

// Start types, as stored in the record's "Start" value.
inline constexpr uint32_t kAutoStart = 2;
inline constexpr uint32_t kDemandStart = 3;
inline constexpr uint32_t kDisabled = 4;

// Service types, as stored in "Type" and reported in the status.
inline constexpr uint32_t kOwnProcess = 0x10;
inline constexpr uint32_t kInteractiveProcess = 0x100;

inline constexpr uint32_t kErrorNormal = 1;

// Controls, and the bit in `controlsAccepted` that says a service takes the stop control.
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlInterrogate = 4;
inline constexpr uint32_t kAcceptStop = 1;

// What a service reports about itself, and what the manager reads back. `processId` is filled
// by the manager when it answers a query; a service leaves it 0.
struct ServiceStatus {
  uint32_t serviceType = kOwnProcess;
  uint32_t currentState = kStopped;
  uint32_t controlsAccepted = 0;
  uint32_t win32ExitCode = 0;
  uint32_t serviceSpecificExitCode = 0;
  uint32_t checkPoint = 0;
  uint32_t waitHint = 0;
  pid_t processId = 0;
};

// The service record. `dependencies` is one name per line; the account is always the local
// system account, which is the account of whoever starts the service here.
struct ServiceConfig {
  std::string name;
  std::string displayName;
  std::string imagePath;
  uint32_t serviceType = kOwnProcess;
  uint32_t startType = kDemandStart;
  uint32_t errorControl = kErrorNormal;
  std::string dependencies;
};

}  // namespace qv::svc
