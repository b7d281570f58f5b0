#include "platform/services/service_manager.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "platform/paths/data_root.h"
#include "platform/registry/registry.h"
#include "platform/services/detached_spawn.h"
#include "platform/services/service_record.h"
#include "platform/services/service_state.h"
#include "platform/services/systemd_unit.h"

extern char** environ;

namespace qv::svc {

namespace {

constexpr auto kControlAnswerTimeout = std::chrono::seconds(30);
constexpr auto kControlPollInterval = std::chrono::milliseconds(20);

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string DatabaseLockPath() { return ServicesFolder() + "/database.lock"; }

std::string NewStartToken() {
  std::random_device random;
  std::string token;
  constexpr const char* kHex = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) token += kHex[random() & 15U];
  return token;
}

bool StartsWithVariable(const char* entry, const char* variable) {
  const size_t length = std::strlen(variable);
  return std::strncmp(entry, variable, length) == 0 && entry[length] == '=';
}

// This process's environment with the data root made absolute (the service runs in "/") and
// the mark that lets the new process claim the pending start.
std::vector<std::string> ServiceEnvironment(const std::string& name, const std::string& token) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (StartsWithVariable(*entry, "QUORVEL_HOME") || StartsWithVariable(*entry, kStartMarkVariable)) continue;
    environment.emplace_back(*entry);
  }
  std::error_code error;
  environment.push_back("QUORVEL_HOME=" + std::filesystem::absolute(DataRoot(), error).string());
  environment.push_back(std::string(kStartMarkVariable) + "=" + name + ":" + token);
  return environment;
}

Status StatusOfSpawnError(int error) {
  if (error == ENOENT || error == ENOTDIR) return kFileNotFound;
  if (error == EACCES || error == EPERM) return kAccessDenied;
  return kStoreFailed;
}

// True while someone else holds the database lock.
bool DatabaseIsLocked() {
  const int fd = open(DatabaseLockPath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return locked;
}

std::string CurrentUserName() {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(geteuid());
}

}  // namespace

Status ServiceManager::Open() {
  open_ = false;
  if (!EnsureServicesFolder()) return kAccessDenied;
  reg::ScopedKey services;
  if (reg::CreateKey(reg::LocalMachine(), "SYSTEM\\CurrentControlSet\\Services", reg::Access::kReadWrite,
                     services.out()) != reg::kSuccess) {
    return kAccessDenied;
  }
  open_ = true;
  return kSuccess;
}

Status ServiceManager::CreateService(const ServiceConfig& config, ServiceHandle* service) const {
  if (!open_) return kInvalidHandle;
  if (config.imagePath.empty()) return kFileNotFound;
  if (const Status created = CreateServiceRecord(config); created != kSuccess) return created;
  if (!InstallSystemdUnit(config)) {
    DeleteServiceRecord(config.name);
    return kStoreFailed;
  }
  service->name_ = config.name;
  return kSuccess;
}

Status ServiceManager::OpenService(std::string_view name, ServiceHandle* service) const {
  if (!open_) return kInvalidHandle;
  ServiceConfig config;
  if (const Status found = ReadServiceRecord(name, &config); found != kSuccess) return found;
  service->name_ = config.name;
  return kSuccess;
}

Status ServiceManager::LockDatabase(DatabaseLock* lock) const {
  if (!open_) return kInvalidHandle;
  lock->Unlock();
  const int fd = open(DatabaseLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
  if (fd < 0) return kAccessDenied;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? kServiceDatabaseLocked : kAccessDenied;
  }
  // The holder and the time, for QueryLockStatus of other processes.
  const std::string owner = std::to_string(Now()) + " " + CurrentUserName();
  if (ftruncate(fd, 0) != 0 || pwrite(fd, owner.data(), owner.size(), 0) != static_cast<ssize_t>(owner.size())) {
    close(fd);
    return kStoreFailed;
  }
  lock->fd_ = fd;
  return kSuccess;
}

Status ServiceManager::QueryLockStatus(LockStatus* status) const {
  if (!open_) return kInvalidHandle;
  *status = LockStatus{};
  if (!DatabaseIsLocked()) return kSuccess;
  status->isLocked = true;
  const int fd = open(DatabaseLockPath().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kSuccess;
  char text[512] = {};
  const ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return kSuccess;
  char* rest = nullptr;
  const long long lockedAt = std::strtoll(text, &rest, 10);
  if (rest != nullptr && *rest == ' ') status->owner = rest + 1;
  status->lockDuration = Now() > lockedAt ? static_cast<uint32_t>(Now() - lockedAt) : 0;
  return kSuccess;
}

Status DatabaseLock::Unlock() {
  if (fd_ < 0) return kInvalidHandle;
  (void)!ftruncate(fd_, 0);
  close(fd_);
  fd_ = -1;
  return kSuccess;
}

Status ServiceHandle::QueryStatus(ServiceStatus* status) const {
  if (!IsOpen()) return kInvalidHandle;
  *status = EffectiveStatus(CServiceStateFile(name_).Read(), Now());
  return kSuccess;
}

Status ServiceHandle::QueryConfig(ServiceConfig* config) const {
  if (!IsOpen()) return kInvalidHandle;
  return ReadServiceRecord(name_, config);
}

Status ServiceHandle::Start() const {
  if (!IsOpen()) return kInvalidHandle;
  ServiceConfig config;
  if (const Status found = ReadServiceRecord(name_, &config); found != kSuccess) return found;
  if (config.startType == kDisabled) return kServiceDisabled;
  if (DatabaseIsLocked()) return kServiceDatabaseLocked;

  const CServiceStateFile stateFile(name_);
  const std::string token = NewStartToken();
  bool alreadyRunning = false;
  const bool requested = stateFile.Update([&](ServiceState& state) {
    if (EffectiveStatus(state, Now()).currentState != kStopped) {
      alreadyRunning = true;
      return false;
    }
    const uint64_t handled = state.controlsHandled;
    state = ServiceState{};
    state.status.serviceType = config.serviceType & kOwnProcess;
    state.status.currentState = kStartPending;
    state.startToken = token;
    state.requestedAt = Now();
    state.controlsHandled = handled;
    return true;
  });
  if (alreadyRunning) return kServiceAlreadyRunning;
  if (!requested) return kStoreFailed;

  pid_t pid = 0;
  const int spawnError = SpawnDetached(config.imagePath, ServiceEnvironment(name_, token), &pid);
  // Unless the new process has claimed the start already, record it (or the failure) now.
  stateFile.Update([&](ServiceState& state) {
    if (state.pid != 0 || state.startToken != token) return false;
    if (spawnError != 0) {
      state.status.currentState = kStopped;
      state.startToken.clear();
    } else {
      state.pid = pid;
      state.startTime = ProcessStartTime(pid);
      state.bootId = CurrentBootId();
    }
    return true;
  });
  return spawnError == 0 ? kSuccess : StatusOfSpawnError(spawnError);
}

Status ServiceHandle::Control(uint32_t control, ServiceStatus* status) const {
  if (!IsOpen()) return kInvalidHandle;
  const CServiceStateFile stateFile(name_);
  const ServiceState before = stateFile.Read();
  const ServiceStatus current = EffectiveStatus(before, Now());
  if (current.currentState == kStopped) return kServiceNotActive;
  if (control != kControlStop && control != kControlInterrogate) return kInvalidServiceControl;
  const bool pending = current.currentState == kStartPending || current.currentState == kStopPending;
  if (control == kControlStop && (current.controlsAccepted & kAcceptStop) == 0) {
    return pending ? kServiceCannotAcceptControl : kInvalidServiceControl;
  }

  const int fd = open(stateFile.ControlPath().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kServiceCannotAcceptControl;  // the dispatcher is not listening yet (or any more)
  const bool sent = write(fd, &control, sizeof control) == static_cast<ssize_t>(sizeof control);
  close(fd);
  if (!sent) return kServiceRequestTimeout;

  const auto deadline = std::chrono::steady_clock::now() + kControlAnswerTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const ServiceState after = stateFile.Read();
    const ServiceStatus now = EffectiveStatus(after, Now());
    if (after.controlsHandled > before.controlsHandled || now.currentState == kStopped) {
      *status = now;
      return kSuccess;
    }
    std::this_thread::sleep_for(kControlPollInterval);
  }
  return kServiceRequestTimeout;
}

Status ServiceHandle::ChangeStartType(uint32_t startType) const {
  if (!IsOpen()) return kInvalidHandle;
  if (const Status written = WriteStartType(name_, startType); written != kSuccess) return written;
  return SetSystemdUnitEnabled(name_, startType == kAutoStart) ? kSuccess : kStoreFailed;
}

Status ServiceHandle::Delete() const {
  if (!IsOpen()) return kInvalidHandle;
  if (const Status deleted = DeleteServiceRecord(name_); deleted != kSuccess) return deleted;
  return RemoveSystemdUnit(name_) ? kSuccess : kStoreFailed;
}

}  // namespace qv::svc
