#include "platform/services/detached_spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace qv::svc {

namespace {

// Reads exactly `size` bytes unless the writers closed first; returns the count read.
ssize_t ReadFully(int fd, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = read(fd, static_cast<char*>(buffer) + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

// Runs in the grandchild, between fork and exec: only async-signal-safe calls from here on.
[[noreturn]] void ExecDetached(const char* path, char* const argv[], char* const envp[], int execPipe) {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &defaults, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  if (chdir("/") != 0) {
    // The program still runs; its folder only matters for relative paths, which it gets none of.
  }
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  execve(path, argv, envp);
  const int error = errno;
  (void)!write(execPipe, &error, sizeof error);
  _exit(127);
}

}  // namespace

int SpawnDetached(const std::string& imagePath, const std::vector<std::string>& environment, pid_t* pid) {
  // Everything the children need is built before fork: they may not allocate.
  std::string path = imagePath;
  std::vector<std::string> envCopy = environment;
  std::vector<char*> envp;
  for (std::string& entry : envCopy) envp.push_back(entry.data());
  envp.push_back(nullptr);
  char* argv[] = {path.data(), nullptr};

  int pidPipe[2];
  int execPipe[2];
  if (pipe2(pidPipe, O_CLOEXEC) != 0) return errno;
  if (pipe2(execPipe, O_CLOEXEC) != 0) {
    const int error = errno;
    close(pidPipe[0]);
    close(pidPipe[1]);
    return error;
  }

  const pid_t middle = fork();
  if (middle == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0) ExecDetached(path.c_str(), argv, envp.data(), execPipe[1]);
    const pid_t reported = grandchild > 0 ? grandchild : -errno;
    (void)!write(pidPipe[1], &reported, sizeof reported);
    _exit(0);
  }
  const int forkError = middle < 0 ? errno : 0;
  close(pidPipe[1]);
  close(execPipe[1]);

  int result = forkError;
  if (middle > 0) {
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_t reported = 0;
    int execError = 0;
    if (ReadFully(pidPipe[0], &reported, sizeof reported) != sizeof reported) {
      result = ECHILD;
    } else if (reported < 0) {
      result = -reported;
    } else if (ReadFully(execPipe[0], &execError, sizeof execError) == sizeof execError) {
      result = execError;
    } else {
      *pid = reported;
    }
  }
  close(pidPipe[0]);
  close(execPipe[0]);
  return result;
}

}  // namespace qv::svc
