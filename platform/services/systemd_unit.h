#pragma once
// On a host that runs systemd, a service of ours also gets a systemd unit, so that a service
// with automatic start starts with the machine. The unit runs the service's program with
// QUORVEL_HOME set to the data root it was added under, and marks the process as started for
// the service, so its dispatcher reports to our manager and the windowed program's query,
// start and stop keep working; `systemctl stop` sends SIGTERM, which the program turns into
// its own stop control.
//
// Enabling is the link "multi-user.target.wants/<unit>" beside the unit, which is what
// `systemctl enable` makes; systemd reads both at the next boot or daemon-reload.
//
// When the package installed a unit of the same name (the hardened one under
// /lib/systemd/system or /usr/lib/systemd/system), that unit is the service's: no unit is
// written, enabling links to the package's unit, and deleting the service removes only the link.

#include <optional>
#include <string>
#include <string_view>

#include "platform/services/service_types.h"

namespace qv::svc {

// $QUORVEL_SYSTEMD_UNIT_DIR when set and not empty (tests, packaging); otherwise
// /etc/systemd/system when the host runs systemd (/run/systemd/system exists); otherwise none.
std::optional<std::string> SystemdUnitFolder();

// The package's unit for the service when there is one: looked for in
// $QUORVEL_SYSTEMD_PACKAGE_UNIT_DIR when set and not empty (tests), else in /usr/lib/systemd/system
// and /lib/systemd/system.
std::optional<std::string> PackagedUnitPath(std::string_view serviceName);

// "<lower-case service name>.service".
std::string SystemdUnitName(std::string_view serviceName);

// The unit's text; nothing when the program path or data root cannot be written into a unit
// (a line break in it).
std::optional<std::string> SystemdUnitText(const ServiceConfig& config, const std::string& dataRoot);

// Without systemd these do nothing and succeed. Install writes the unit and enables it when the
// start type is automatic; it removes what it wrote when a step fails.
bool InstallSystemdUnit(const ServiceConfig& config);
bool SetSystemdUnitEnabled(std::string_view serviceName, bool enabled);
bool RemoveSystemdUnit(std::string_view serviceName);

}  // namespace qv::svc
