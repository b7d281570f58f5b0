#pragma once
// How the windowed program inspects and drives the background service: a small object made on
// the stack where needed. It holds no handles between calls; every operation opens the service
// manager and the service, and closes them before it returns. Every operation returns false at
// once when the manager cannot be opened (for example when this user may not use the data
// root) or the service is not installed.
//
// Start and Stop block their caller while they poll the service (at most about 5 s and 10 s).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

class CServiceControl {
 public:
  explicit CServiceControl(std::string serviceName = "Quorvel");

  // The service's current state (STOPPED, START_PENDING, ... as svc::kStopped and its
  // siblings); nothing when it cannot be opened or queried.
  std::optional<uint32_t> State() const;
  // The service could be opened and its status queried.
  bool IsInstalled() const;
  bool IsRunning() const;
  // Nothing when running already; otherwise starts it and waits up to 21 x 250 ms for it to
  // report running. True when it was running or the start was accepted, whether or not running
  // was reached in time.
  bool Start() const;
  // Only when running: sends the stop control and waits up to 41 x 250 ms for stopped. True
  // when the service was running and the stop was sent.
  bool Stop() const;
  // Makes the service start on demand only (not with the machine), under the database lock
  // when it can be had. True when the change was made.
  bool SetDemandStart() const;
  // Makes the service start with the machine, likewise.
  bool SetAutoStart() const;
  // The service's own line on why it could not run (for example "udpport 514 cannot be used:
  // ..."), recorded by its last start; "" when it recorded none.
  std::string Failure() const;

 private:
  bool SetStartType(uint32_t startType) const;

  std::string serviceName_;
};

// The name of a service state as the platform's tools print it ("RUNNING", "STOPPED",
// "START_PENDING", ...); "UNKNOWN" for a number that is none of them.
std::string_view ServiceStateName(uint32_t state);

}  // namespace qv
