#pragma once
// The controlling side of Quorvel's small service manager, shaped like the platform's service
// control manager that the windowed program and the service program were written against:
// open the manager, create, open, start, control, query, reconfigure and delete a service, and
// lock the service database.
//
// A service is its record in the registry (service_record.h) plus its live state in the
// services folder of the data root (service_state.h). Starting runs the record's program
// detached (detached_spawn.h), marked as started for the service so that its dispatcher
// (service_dispatcher.h) connects and reports; a control reaches the service's control handler
// through a named pipe, and the controller waits until the handler has answered. On a systemd
// host a service also gets a unit (systemd_unit.h).
//
// Who may do what is decided by the data root's permissions (mode 0700): whoever can open the
// manager has every right on every service, so there are no access masks or security
// descriptors. Handles are plain values that hold no resources except a DatabaseLock; every
// call opens and closes what it needs, and every call is safe from any thread.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/services/service_types.h"

namespace qv::svc {

class ServiceHandle;
class DatabaseLock;

struct LockStatus {
  bool isLocked = false;
  std::string owner;          // the user who holds the lock
  uint32_t lockDuration = 0;  // seconds since it was taken
};

class ServiceManager {
 public:
  // Connects to the manager: kAccessDenied when the data root, its services folder or the
  // registry cannot be used by this user.
  Status Open();
  bool IsOpen() const { return open_; }

  // Writes a new record (and on a systemd host its unit). kServiceExists when the name is
  // taken, kInvalidName for a name that cannot be a service's.
  Status CreateService(const ServiceConfig& config, ServiceHandle* service) const;
  // kServiceDoesNotExist when there is no record of that name.
  Status OpenService(std::string_view name, ServiceHandle* service) const;

  // Takes the database lock, which holds off starts of services until released.
  // kServiceDatabaseLocked while another holder has it.
  Status LockDatabase(DatabaseLock* lock) const;
  Status QueryLockStatus(LockStatus* status) const;

 private:
  bool open_ = false;
};

class ServiceHandle {
 public:
  bool IsOpen() const { return !name_.empty(); }
  const std::string& Name() const { return name_; }

  // The service's status; a service whose process is gone reads as stopped.
  Status QueryStatus(ServiceStatus* status) const;
  Status QueryConfig(ServiceConfig* config) const;

  // Runs the record's program as the service. Returns once the program runs (not once the
  // service reports running). kServiceAlreadyRunning unless stopped, kServiceDisabled,
  // kServiceDatabaseLocked, kFileNotFound or kAccessDenied when the program cannot be run.
  Status Start() const;
  // Sends a control (kControlStop or kControlInterrogate) and waits up to 30 s until the
  // service's handler has answered; `status` is the status afterwards. kServiceNotActive when
  // stopped, kServiceCannotAcceptControl while start or stop is pending,
  // kInvalidServiceControl for a control it does not accept, kServiceRequestTimeout.
  Status Control(uint32_t control, ServiceStatus* status) const;

  // Changes only the start type; on a systemd host this enables or disables the unit.
  Status ChangeStartType(uint32_t startType) const;
  // Deletes the record and the unit. A running service keeps running until it is stopped.
  Status Delete() const;

 private:
  friend class ServiceManager;
  std::string name_;
};

// The database lock; released by Unlock or when the object goes.
class DatabaseLock {
 public:
  DatabaseLock() = default;
  ~DatabaseLock() { Unlock(); }
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  bool IsLocked() const { return fd_ >= 0; }
  // kInvalidHandle when not locked.
  Status Unlock();

 private:
  friend class ServiceManager;
  int fd_ = -1;
};

}  // namespace qv::svc
