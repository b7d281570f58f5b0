#include "platform/process/process_starter.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/process/child_reaper.h"

extern char** environ;

namespace qv {
namespace {

// Owns the spawn attributes and file actions for one start.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int Prepare() {
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    int error = posix_spawnattr_setsigmask(&attr_, &none);
    if (error == 0) error = posix_spawnattr_setsigdefault(&attr_, &all);
    if (error == 0) {
      error = posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    }
    for (int fd = 0; fd <= 2 && error == 0; ++fd) {
      error = posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    return error;
  }

  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

// The child is a copy of the calling thread, whose capabilities it takes with it: emptying this
// thread's inheritable and ambient sets (both stay empty for the thread's later work) leaves
// exec nothing to pass on. The permitted and effective sets, which exec does not carry over to
// a program without file capabilities, stay as they are.
int ClearPassedOnCapabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return errno;
  bool inheritable = false;
  for (auto& word : data) {
    inheritable = inheritable || word.inheritable != 0;
    word.inheritable = 0;
  }
  if (inheritable && syscall(SYS_capset, &header, data) != 0) return errno;
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) return errno;
  return 0;
}

}  // namespace

int StartProcess(const std::vector<std::string>& argv, pid_t* pid, std::function<void()> onExit) {
  if (argv.empty() || argv[0].empty()) return EINVAL;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  SpawnSetup setup;
  int error = ClearPassedOnCapabilities();
  if (error == 0) error = setup.Prepare();
  if (error != 0) return error;
  pid_t child = 0;
  error = posix_spawnp(&child, args[0], setup.actions(), setup.attr(), args.data(), environ);
  if (error != 0) return error;
  CChildReaper::Instance().Watch(child, std::move(onExit));
  if (pid != nullptr) *pid = child;
  return 0;
}

}  // namespace qv
