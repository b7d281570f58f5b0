#pragma once
// The service program's start-up: it reads the command word, installs or removes the service,
// or runs the engine in a Qt event loop, connected to the service manager when the manager
// started it ("debug" never connects). SIGTERM and SIGINT end every mode cleanly: under the
// manager they go through the service's own stop control, so the manager sees the service
// report stop pending and stopped; otherwise they end the event loop.

#include <cstdint>
#include <string>

namespace qv {

enum class CommandWord { kAdd, kRemove, kDebug, kNormalStart };

// The whole command-line tail (the arguments joined by single spaces) compared without regard
// to case: "add", "remove" and "debug"; anything else, or nothing, is the normal start.
CommandWord CommandWordOf(int argc, char* argv[]);

// Whether "udpport" may be used: 1 to 65535, and not the two ports that an older viewer used
// for its relay (a service receiving there would relay to itself).
bool IsUsableSyslogPort(int32_t port);

class CServiceApp {
 public:
  // Runs the program and returns its exit code: 1 when adding or removing failed, when the data
  // root is not private (CheckDataRoot) or "udpport" is unusable; these say why on stderr in
  // one line. Runs with umask 007. "add" run as root also shares the data root with the group
  // `quorvel` (ShareDataRootWithGroup) and makes the user `quorvel` (MakeServiceUser). Started
  // as root to run, it becomes that user first (DropToServiceUser) or refuses to start.
  int Run(int argc, char* argv[]);
};

}  // namespace qv
