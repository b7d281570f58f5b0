#pragma once
// Adding the service program to the service manager and removing it again ("dunmir add",
// "dunmir remove"). Both report failure as false and write nothing; the program then ends with
// exit code 1.
//
// On this system the service gets no security descriptor of its own: whoever may use the data
// root may start and stop it, and nobody else.

#include <sys/types.h>

#include <string>
#include <vector>

namespace qv {

inline constexpr const char* kServiceName = "Quorvel";
inline constexpr const char* kServiceDisplayName = "Quorvel Syslog";
inline constexpr const char* kServiceDescription = "Listens for and acts on syslog messages";

// Creates the service for this program (its own full path, at most 512 characters) with
// automatic start, the dependency "Tcpip" and the description as value "Description" of the
// service's key. False when the path cannot be had, the manager cannot be opened or the
// service exists already.
bool AddService(const std::string& displayName, const std::string& description);

// The group with which `dunmir add`, run as root, shares the data root.
inline constexpr const char* kServiceGroup = "quorvel";

// Shares the data root with the system group `quorvel`, so that desktop users in that group
// can run the viewer against the service's settings, history and relay: the group is made
// (groupadd --system, found on PATH) when it does not exist, and the data root and everything
// in it are given to root:quorvel, folders 2770 and files 0660 (nothing for others). Without
// the group, and no groupadd to make it, the data root stays private. Needs root; false when
// the data root was not shared.
bool ShareDataRootWithGroup();
// The same with the group `gid`, which must exist.
bool ShareDataRootWithGroup(gid_t gid);

// Runs a system tool (argv[0] found on PATH) to its end; true when it exited with 0.
bool RunSystemTool(std::vector<std::string> argv);

// Stops the service when it runs (waiting while it reports stop pending) and deletes it. False
// when the manager or the service cannot be opened or the deletion fails.
bool RemoveService();

}  // namespace qv
