#pragma once
// Collects the exit status of children that nobody waits for, so that they never linger as
// zombies.
//
// Why a thread with process descriptors rather than SIGCHLD: ignoring SIGCHLD or reaping with
// waitpid(-1) in a handler would also take the children of other code in the process (popen,
// QProcess, test helpers) and break their waits. Instead each watched child gets a pidfd
// (pidfd_open); one thread polls them and reaps a child by its own id the moment it exits. When
// a pidfd cannot be had (descriptor limit), the child is polled with waitpid(WNOHANG) once a
// second instead.
//
// One reaper exists per process; its thread starts with the first watched child and is stopped
// and joined when the process exits normally. Children still running then are simply left to
// the system's init. Safe to call from any thread.

#include <sys/types.h>

#include <functional>

namespace qv {

class CChildReaper {
 public:
  static CChildReaper& Instance();

  // Takes over waiting for `pid`, which must be a child of this process that nobody else waits
  // for. `onExit`, when given, is called on the reaper's thread once the child has been reaped
  // (not for children still running when the process exits); it must not block.
  void Watch(pid_t pid, std::function<void()> onExit = {});

  CChildReaper(const CChildReaper&) = delete;
  CChildReaper& operator=(const CChildReaper&) = delete;

 private:
  CChildReaper();
  ~CChildReaper();
  struct State;
  State* state_;
};

}  // namespace qv
