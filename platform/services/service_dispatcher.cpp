#include "platform/services/service_dispatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <strings.h>
#include <thread>

#include "platform/services/service_record.h"
#include "platform/services/service_state.h"

namespace qv::svc {

class ServiceStatusHandle {};

namespace {

// The one dispatcher a process may run.
struct Dispatch {
  std::mutex mutex;
  bool active = false;
  std::string name;
  int controlFd = -1;
  std::function<void(uint32_t)> handler;
  ServiceStatusHandle statusHandle;
};

Dispatch& TheDispatch() {
  static Dispatch dispatch;
  return dispatch;
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The token of the start mark, when the mark names this service; empty otherwise.
std::string StartTokenFor(std::string_view name) {
  const char* mark = std::getenv(kStartMarkVariable);
  if (mark == nullptr) return {};
  const std::string_view text(mark);
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || !SameName(text.substr(0, colon), name)) return {};
  return std::string(text.substr(colon + 1));
}

// Takes over the pending start that `token` names, or a start by systemd, for this process.
bool ClaimStart(const CServiceStateFile& stateFile, const std::string& token) {
  const pid_t self = getpid();
  const uint64_t selfStart = ProcessStartTime(self);
  return stateFile.Update([&](ServiceState& state) {
    if (token == kSystemdStartToken) {
      if (getppid() != 1 || EffectiveStatus(state, Now()).currentState != kStopped) return false;
    } else if (state.startToken != token || (state.pid != 0 && state.pid != self)) {
      return false;
    }
    const uint64_t handled = state.controlsHandled;
    // The manager's start cleared the failure line; one there now is this process's own,
    // recorded before this thread came to claim the start.
    std::string failure = token == kSystemdStartToken ? std::string() : std::move(state.failure);
    state = ServiceState{};
    state.failure = std::move(failure);
    state.status.currentState = kStartPending;
    state.pid = self;
    state.startTime = selfStart;
    state.bootId = CurrentBootId();
    state.controlsHandled = handled;
    return true;
  });
}

void RecordStopped(const CServiceStateFile& stateFile, uint32_t exitCode) {
  const pid_t self = getpid();
  stateFile.Update([&](ServiceState& state) {
    if (state.pid != self || state.status.currentState == kStopped) return false;
    state.status = ServiceStatus{};
    state.status.win32ExitCode = exitCode;
    return true;
  });
}

// The control pipe, opened for reading and writing so that it never reports end of file.
// Controls left in it by an earlier instance are dropped: none can be meant for this one, as
// a starting service accepts no controls.
int OpenControlPipe(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && !S_ISFIFO(info.st_mode)) unlink(path.c_str());
  if (mkfifo(path.c_str(), 0660) != 0 && errno != EEXIST) return -1;
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  uint32_t stale[64];
  while (read(fd, stale, sizeof stale) > 0) {
  }
  return fd;
}

void HandleControls(int controlFd, const CServiceStateFile& stateFile) {
  uint32_t controls[16];
  ssize_t got;
  while ((got = read(controlFd, controls, sizeof controls)) > 0) {
    for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof(uint32_t)); ++i) {
      std::function<void(uint32_t)> handler;
      {
        const std::lock_guard<std::mutex> lock(TheDispatch().mutex);
        handler = TheDispatch().handler;
      }
      if (handler) handler(controls[i]);
      stateFile.Update([](ServiceState& state) {
        ++state.controlsHandled;
        return true;
      });
    }
  }
}

}  // namespace

Status StartServiceCtrlDispatcher(const ServiceTableEntry& entry) {
  const std::string token = StartTokenFor(entry.name);
  if (token.empty() || !IsValidServiceName(entry.name)) return kFailedServiceControllerConnect;
  Dispatch& dispatch = TheDispatch();
  {
    const std::lock_guard<std::mutex> lock(dispatch.mutex);
    if (dispatch.active) return kServiceAlreadyRunning;
    dispatch.active = true;
  }
  const CServiceStateFile stateFile(entry.name);
  const int controlFd = ClaimStart(stateFile, token) ? OpenControlPipe(stateFile.ControlPath()) : -1;
  if (controlFd < 0) {
    RecordStopped(stateFile, kFailedServiceControllerConnect);
    const std::lock_guard<std::mutex> lock(dispatch.mutex);
    dispatch.active = false;
    return kFailedServiceControllerConnect;
  }
  {
    const std::lock_guard<std::mutex> lock(dispatch.mutex);
    dispatch.name = entry.name;
    dispatch.controlFd = controlFd;
  }

  const int mainEnded = eventfd(0, EFD_CLOEXEC);
  std::thread mainThread([&entry, mainEnded] {
    entry.serviceMain();
    const uint64_t one = 1;
    (void)!write(mainEnded, &one, sizeof one);
  });
  for (;;) {
    pollfd watched[2] = {{controlFd, POLLIN, 0}, {mainEnded, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if ((watched[0].revents & POLLIN) != 0) HandleControls(controlFd, stateFile);
    if ((watched[1].revents & POLLIN) != 0) break;
  }
  mainThread.join();
  RecordStopped(stateFile, 0);
  {
    const std::lock_guard<std::mutex> lock(dispatch.mutex);
    dispatch.active = false;
    dispatch.controlFd = -1;
    dispatch.handler = nullptr;
  }
  // The pipe stays: a new instance may already be using it.
  close(controlFd);
  close(mainEnded);
  return kSuccess;
}

ServiceStatusHandle* RegisterServiceCtrlHandler(std::string_view name, std::function<void(uint32_t)> handler) {
  Dispatch& dispatch = TheDispatch();
  const std::lock_guard<std::mutex> lock(dispatch.mutex);
  if (!dispatch.active || dispatch.controlFd < 0 || !SameName(name, dispatch.name)) return nullptr;
  dispatch.handler = std::move(handler);
  return &dispatch.statusHandle;
}

bool SetServiceStatus(ServiceStatusHandle* handle, const ServiceStatus& status) {
  Dispatch& dispatch = TheDispatch();
  std::string name;
  {
    const std::lock_guard<std::mutex> lock(dispatch.mutex);
    if (handle != &dispatch.statusHandle || !dispatch.active) return false;
    name = dispatch.name;
  }
  const pid_t self = getpid();
  return CServiceStateFile(name).Update([&](ServiceState& state) {
    if (state.pid != self) return false;
    state.status = status;
    state.status.processId = 0;
    return true;
  });
}

bool PostControlToSelf(uint32_t control) {
  Dispatch& dispatch = TheDispatch();
  const std::lock_guard<std::mutex> lock(dispatch.mutex);
  if (!dispatch.active || dispatch.controlFd < 0) return false;
  return write(dispatch.controlFd, &control, sizeof control) == static_cast<ssize_t>(sizeof control);
}

}  // namespace qv::svc
