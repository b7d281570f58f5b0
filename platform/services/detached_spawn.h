#pragma once
// Starts a program the way a service manager starts a service: detached from the caller, so
// that it outlives it and is never the caller's child to reap. The program runs in a session of
// its own with standard input, output and error on /dev/null, in the folder "/", with default
// signal handling and an empty signal mask, and inherits no descriptor of the caller beyond
// those three (a listening socket of the caller must not stay bound in the service).

#include <sys/types.h>

#include <string>
#include <vector>

namespace qv::svc {

// Runs `imagePath` without arguments and with exactly `environment` ("NAME=value" entries).
// Returns 0 and the new process id once the program has been executed, or the errno of the
// step that failed (the exec's own errno when the program could not be run, e.g. ENOENT).
// Safe to call from a program with several threads.
int SpawnDetached(const std::string& imagePath, const std::vector<std::string>& environment, pid_t* pid);

}  // namespace qv::svc
