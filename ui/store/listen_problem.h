#pragma once
// Why the viewer does not receive, in the words the user sees once as a local message in the
// list and as the tip of the status bar's listening text: what went wrong and what to do.

#include <cstdint>
#include <string>

namespace qv {

// The syslog port could not be bound: `error` is the errno value of the failure. Permission
// denied names the three ways out (run the service, which `dunmir add` installs as root when
// `serviceInstalled` is false; grant CAP_NET_BIND_SERVICE; a port above 1023), a port in use
// says another program holds it.
std::string PortProblem(int32_t port, int error, bool serviceInstalled);

// "Start Background Service" did not leave the service running: not installed, or it stopped
// at once with its own line `failure` (may be empty).
std::string ServiceStartProblem(bool installed, const std::string& failure);

}  // namespace qv
