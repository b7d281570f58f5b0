#pragma once
// The service never runs rules as root. Started as root (by `dunmir add` and the service
// manager, by systemd without User=, or by hand with "debug"), it becomes the system user
// `quorvel` before it opens anything else, keeping only two capabilities:
// CAP_NET_BIND_SERVICE, so that it binds the syslog and trap ports below 1024 (also when it
// opens them again), and CAP_NET_RAW, for the ping monitor's raw socket. Both are permitted and
// effective, never inheritable or ambient, so programs that rules start get none of them.
//
// Without the user `quorvel` the service refuses to start as root: rules are settings that
// every member of the group `quorvel` may change, so running them as root would hand those
// members root. `dunmir add` makes the user (useradd, when found on PATH); an administrator who
// wants the old behaviour all the same sets QUORVEL_RULES_AS_ROOT=1 and is warned on stderr.
//
// The data root stays the service's: a root-made data root is shared with the user's group as
// `dunmir add` shares it (root:<group>, folders 2770, files 0660).
//
// Call DropToServiceUser while the process has one thread: capabilities belong to threads,
// and a thread made earlier would keep root's.

#include <string>

namespace qv {

// The user whose rights the service runs with when started as root.
inline constexpr const char* kServiceUser = "quorvel";
// Set to 1, lets a service started as root without the user `quorvel` run as root.
inline constexpr const char* kRulesAsRootVariable = "QUORVEL_RULES_AS_ROOT";

// Makes the system user `quorvel` in the group `group` when it does not exist and useradd is
// on PATH (no home folder, no login shell). True when the user exists afterwards.
bool MakeServiceUser(const char* group);

// When the effective user is root: becomes `quorvel` as described above. Returns "" when the
// process may go on (it now runs as `quorvel`, or it was not root, or the override is set; the
// override's warning is written to stderr here), else one line saying why it must not start and
// what to do.
std::string DropToServiceUser();

}  // namespace qv
