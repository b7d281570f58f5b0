// qvsc: queries and drives the background service through the service manager, for hosts
// without systemd and for scripts.
//
//   qvsc query [NAME]    prints "NAME: STATE" (RUNNING, STOPPED, START_PENDING, STOP_PENDING, ...)
//   qvsc start [NAME]    starts the service, waits a few seconds for it, prints its state
//   qvsc stop [NAME]     stops a running service, waits for it, prints its state
//   qvsc auto [NAME]     the service starts with the machine
//   qvsc demand [NAME]   the service starts only when asked
//
// NAME defaults to Quorvel. The manager is the one of $QUORVEL_HOME. Exit codes: 0 success,
// 1 the service is not installed or the operation failed (a line on stderr says which), 2 bad
// command line.

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/paths/data_root.h"
#include "platform/services/service_types.h"
#include "service/control/service_control.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Usage() {
  std::fputs("usage: qvsc query|start|stop|auto|demand [NAME]\n", stderr);
  return kUsage;
}

int Fail(const std::string& name, const std::string& what) {
  std::fflush(stdout);  // what was printed comes first
  std::fprintf(stderr, "qvsc: %s: %s\n", name.c_str(), what.c_str());
  return kFailed;
}

// Prints the state; fails when the service cannot be queried.
int PrintState(const std::string& name, const qv::CServiceControl& control) {
  const auto state = control.State();
  if (!state) return Fail(name, "not installed, or the service manager cannot be used");
  const std::string_view text = qv::ServiceStateName(*state);
  std::printf("%s: %.*s\n", name.c_str(), static_cast<int>(text.size()), text.data());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  qv::UseSharedUmask();  // state files it makes stay the data root group's
  if (argc < 2 || argc > 3) return Usage();
  const std::string_view command = argv[1];
  const std::string name = argc == 3 ? argv[2] : "Quorvel";
  const qv::CServiceControl control(name);

  if (command == "query") return PrintState(name, control);
  if (command != "start" && command != "stop" && command != "auto" && command != "demand") return Usage();
  if (!control.IsInstalled()) return Fail(name, "not installed, or the service manager cannot be used");

  if (command == "start") {
    if (!control.Start()) return Fail(name, "the service manager could not start it");
    const int printed = PrintState(name, control);
    // A service that ended at once did not start.
    if (printed != 0 || control.State() != qv::svc::kStopped) return printed;
    const std::string failure = control.Failure();
    return Fail(name, failure.empty() ? "it stopped again at once" : "it stopped again at once: " + failure);
  }
  if (command == "stop") {
    if (!control.IsRunning()) return Fail(name, "not running");
    if (!control.Stop()) return Fail(name, "the stop control was refused");
    return PrintState(name, control);
  }
  const bool automatic = command == "auto";
  if (!(automatic ? control.SetAutoStart() : control.SetDemandStart())) {
    return Fail(name, "the start type could not be changed");
  }
  std::printf("%s: %s\n", name.c_str(), automatic ? "AUTO_START" : "DEMAND_START");
  return 0;
}
