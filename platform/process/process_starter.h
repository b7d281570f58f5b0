#pragma once
// Starts a program and lets it run on its own.
//
// The program is found by name on the search path (PATH), exactly as a shell would find it, but
// no shell is involved: the arguments reach the program as given, byte for byte. The child
// - inherits the environment and the current folder,
// - inherits no descriptors: standard input, output and error are /dev/null, every other
//   descriptor is closed (a program started by a rule has no console to write to),
// - starts with every signal at its default action and none blocked, whatever the caller
//   ignores or blocks (a server usually ignores SIGPIPE; its children should not),
// - runs in a session of its own, so a terminal's Ctrl-C meant for the caller does not reach it,
// - gets no capabilities from the caller: the calling thread's inheritable and ambient sets are
//   emptied first (and stay empty), so a service that keeps CAP_NET_BIND_SERVICE for its ports
//   passes it to no program a rule starts.
//
// The caller never waits for the program. Children are reaped by one background thread of the
// process (see child_reaper.h), which collects exactly the children started here and no others,
// so other code of the process can still wait for children of its own.
//
// Safe to call from any thread.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace qv {

// Starts argv[0] with the arguments argv[1..]. Returns 0 and, when `pid` is not null, the
// child's process id; otherwise the errno value of the failure (ENOENT when no such program is
// on the search path, EACCES when it is not executable, EINVAL for an empty argv). `onExit`, when
// given, is called on the reaper's thread after the started child has ended (see
// CChildReaper::Watch); it is not called when the start fails.
int StartProcess(const std::vector<std::string>& argv, pid_t* pid = nullptr, std::function<void()> onExit = {});

}  // namespace qv
