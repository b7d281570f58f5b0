#include "platform/process/child_reaper.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qv {
namespace {

struct Child {
  pid_t pid;
  int pidfd;  // -1 when polled by waitpid instead
  std::function<void()> onExit;
};

constexpr int kFallbackPollMs = 1000;

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

// True when the child is gone: reaped now, or already reaped by someone else.
bool Reap(pid_t pid) {
  int status = 0;
  const pid_t result = waitpid(pid, &status, WNOHANG);
  return result == pid || (result < 0 && errno == ECHILD);
}

}  // namespace

struct CChildReaper::State {
  std::mutex mutex;
  std::vector<Child> pending;  // handed over by Watch, taken by the thread
  bool stopping = false;
  int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::thread thread;

  void Wake() const {
    if (wakeFd >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t ignored = write(wakeFd, &one, sizeof one);
    }
  }

  void Run() {
    std::vector<Child> children;
    std::vector<pollfd> fds;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) break;
        children.insert(children.end(), pending.begin(), pending.end());
        pending.clear();
      }
      fds.clear();
      fds.push_back({wakeFd, POLLIN, 0});
      bool anyPolled = wakeFd < 0;
      for (const Child& child : children) {
        fds.push_back({child.pidfd, POLLIN, 0});  // poll ignores negative descriptors
        anyPolled = anyPolled || child.pidfd < 0;
      }
      if (poll(fds.data(), fds.size(), anyPolled ? kFallbackPollMs : -1) < 0 && errno != EINTR) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kFallbackPollMs));
      }
      if (wakeFd >= 0 && (fds[0].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t ignored = read(wakeFd, &count, sizeof count);
      }
      std::vector<Child> running;
      for (std::size_t i = 0; i < children.size(); ++i) {
        const Child& child = children[i];
        const bool due = child.pidfd < 0 || fds[i + 1].revents != 0;
        if (due && Reap(child.pid)) {
          if (child.pidfd >= 0) close(child.pidfd);
          if (child.onExit) child.onExit();
        } else {
          running.push_back(child);
        }
      }
      children.swap(running);
    }
    for (const Child& child : children) {
      if (child.pidfd >= 0) close(child.pidfd);
    }
  }
};

CChildReaper& CChildReaper::Instance() {
  static CChildReaper reaper;
  return reaper;
}

CChildReaper::CChildReaper() : state_(new State) {}

CChildReaper::~CChildReaper() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stopping = true;
  }
  state_->Wake();
  if (state_->thread.joinable()) state_->thread.join();
  for (const Child& child : state_->pending) {
    if (child.pidfd >= 0) close(child.pidfd);
  }
  if (state_->wakeFd >= 0) close(state_->wakeFd);
  delete state_;
}

void CChildReaper::Watch(pid_t pid, std::function<void()> onExit) {
  const int pidfd = OpenPidfd(pid);  // created close-on-exec
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->pending.push_back({pid, pidfd, std::move(onExit)});
  if (!state_->thread.joinable()) state_->thread = std::thread([this] { state_->Run(); });
  state_->Wake();
}

}  // namespace qv
