#pragma once
// The live state of one service, shared between the manager and the service's own process
// through the file "<services folder>/<name>.state". The service's dispatcher writes what the
// service reports together with its process id and start time; the manager writes a pending
// start before it launches the program. Readers judge the record against the process table,
// so a service whose process has died reads as stopped whatever it last reported.
//
// Writes happen under an exclusive lock on "<name>.lock" and replace the file in one rename,
// so a reader never sees half a record and two writers never lose each other's change. A
// missing or damaged file reads as a stopped service. Safe from any thread and process.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/services/service_types.h"

namespace qv::svc {

// The environment variable that marks a process as started for a service: "<name>:<token>",
// with the token the manager stored with the pending start, or kSystemdStartToken when the
// service's systemd unit started it.
inline constexpr const char* kStartMarkVariable = "QUORVEL_SERVICE_START";
inline constexpr const char* kSystemdStartToken = "systemd";

// Reported for a service whose process ended without reporting stopped.
inline constexpr uint32_t kProcessAborted = 1067;

// A start the manager requested but no process claimed reads as stopped after this long.
inline constexpr int64_t kStartClaimSeconds = 30;

struct ServiceState {
  ServiceStatus status;          // as last reported; processId is not stored
  pid_t pid = 0;                 // the service process; 0 while a start is on its way
  uint64_t startTime = 0;        // the process's start time, to tell a reused process id
  std::string bootId;            // the boot the process ran in; start times restart with each boot
  std::string startToken;        // given to the process the manager starts, cleared when claimed
  int64_t requestedAt = 0;       // when the manager requested the start, seconds since 1970
  uint64_t controlsHandled = 0;  // counts answered controls, so a controller sees its answer
  std::string failure;           // the service's own line on why it could not run; reset by a start
};

class CServiceStateFile {
 public:
  // `name` is a valid service name; files use its lower-case form, as names ignore case.
  explicit CServiceStateFile(std::string_view name);

  ServiceState Read() const;
  // Reads the state, lets `change` edit it and stores it, all under the lock. `change` returns
  // false to leave the file as it was. Returns false when the lock or the write failed or
  // `change` declined.
  bool Update(const std::function<bool(ServiceState&)>& change) const;
  // The named pipe on which the service's dispatcher receives controls.
  std::string ControlPath() const { return base_ + ".ctl"; }

 private:
  std::string base_;
};

// The status a controller should see: the stored one, or stopped when the recorded process is
// gone (or ran in an earlier boot) (exit code kProcessAborted unless it reported stopped) or a start was never claimed.
// Fills `processId` while the process lives.
ServiceStatus EffectiveStatus(const ServiceState& state, int64_t now);

// For a process that the manager (or the service's systemd unit) started, as its start mark in
// the environment says: stores `line` (one line; line breaks become spaces) as the service's
// failure, which controllers show when the service stopped at once. False for a process started
// otherwise, or when the state could not be written.
bool RecordServiceFailure(std::string_view line);

// This boot's identity (the kernel's random boot id).
const std::string& CurrentBootId();

// The start time of a process in clock ticks since boot, 0 when there is no such process.
uint64_t ProcessStartTime(pid_t pid);
// Whether `pid` is a live (not zombie) process that started at `startTime` (0: any time).
bool ProcessIsAlive(pid_t pid, uint64_t startTime);

}  // namespace qv::svc
