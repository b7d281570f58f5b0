#include "ui/store/listen_problem.h"

#include <cerrno>
#include <cstring>

namespace qv {

std::string PortProblem(int32_t port, int error, bool serviceInstalled) {
  const std::string head = "UDP port " + std::to_string(port) + " cannot be used: ";
  if (error == EACCES || error == EPERM) {
    return head + "permission denied (ports below 1024 need privileges). " +
           (serviceInstalled ? "Start the background service (toolbar), which receives for the viewer; "
                             : "Install the background service as root with 'dunmir add' and start it (toolbar); ") +
           "or grant this program CAP_NET_BIND_SERVICE (sudo setcap cap_net_bind_service=ep <path of Quorvel>); "
           "or choose a port above 1023 in Preferences.";
  }
  if (error == EADDRINUSE) {
    return head + "another program already receives on it. Stop that program, or choose another port in Preferences.";
  }
  return head + std::strerror(error) + ". Choose another port in Preferences.";
}

std::string ServiceStartProblem(bool installed, const std::string& failure) {
  if (!installed) {
    return "The background service is not installed. Install it as root with 'dunmir add', then start it here.";
  }
  if (failure.empty()) return "The background service did not start; 'qvsc start' says why.";
  return "The background service stopped at once: " + failure;
}

}  // namespace qv
