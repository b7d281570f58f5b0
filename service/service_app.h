#pragma once
// The service program's start-up: it reads the command word, installs or removes the service,
// or runs the engine in a Qt event loop, connected to the service manager when the manager
// started it ("debug" never connects). SIGTERM and SIGINT end every mode cleanly: under the
// manager they go through the service's own stop control, so the manager sees the service
// report stop pending and stopped; otherwise they end the event loop.

#include <string>

namespace qv {

enum class CommandWord { kAdd, kRemove, kDebug, kNormalStart };

// The whole command-line tail (the arguments joined by single spaces) compared without regard
// to case: "add", "remove" and "debug"; anything else, or nothing, is the normal start.
CommandWord CommandWordOf(int argc, char* argv[]);

class CServiceApp {
 public:
  // Runs the program and returns its exit code: 1 when adding or removing failed.
  int Run(int argc, char* argv[]);
};

}  // namespace qv
