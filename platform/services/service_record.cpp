#include "platform/services/service_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/paths/data_root.h"
#include "platform/registry/registry.h"

namespace qv::svc {

namespace {

constexpr std::string_view kServicesKey = "SYSTEM\\CurrentControlSet\\Services\\";

// Holds an exclusive lock on "records.lock" for a scope; `ok()` is false when the lock could
// not be taken.
class RecordsLock {
 public:
  RecordsLock() {
    if (!EnsureServicesFolder()) return;
    fd_ = open((ServicesFolder() + "/records.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RecordsLock() {
    if (fd_ >= 0) close(fd_);
  }
  RecordsLock(const RecordsLock&) = delete;
  RecordsLock& operator=(const RecordsLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

uint32_t DwordOf(const std::string& data) {
  uint32_t value = 0;
  if (data.size() >= sizeof value) std::memcpy(&value, data.data(), sizeof value);
  return value;
}

bool RecordExists(reg::HKEY key) { return reg::QueryValue(key, "ImagePath", nullptr, nullptr) == reg::kSuccess; }

}  // namespace

std::string ServiceKeyPath(std::string_view name) { return std::string(kServicesKey) + std::string(name); }

std::string ServicesFolder() { return DataPath("services"); }

bool EnsureServicesFolder() {
  if (!EnsureDataRoot()) return false;
  const std::string folder = ServicesFolder();
  // The data root keeps others out; the group of a shared data root may enter (umask 007).
  if (mkdir(folder.c_str(), 0770) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsValidServiceName(std::string_view name) {
  if (name.empty() || name.size() > 256 || name == "." || name == "..") return false;
  for (const char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

Status CreateServiceRecord(const ServiceConfig& config) {
  if (!IsValidServiceName(config.name)) return kInvalidName;
  const RecordsLock lock;
  if (!lock.ok()) return kAccessDenied;
  reg::ScopedKey key;
  if (reg::CreateKey(reg::LocalMachine(), ServiceKeyPath(config.name), reg::Access::kReadWrite, key.out()) !=
      reg::kSuccess) {
    return kAccessDenied;
  }
  if (RecordExists(key.get())) return kServiceExists;
  // "ImagePath" goes last: until it is written the key is not a service.
  const bool written = reg::SetDword(key.get(), "Type", config.serviceType) == reg::kSuccess &&
                       reg::SetDword(key.get(), "Start", config.startType) == reg::kSuccess &&
                       reg::SetDword(key.get(), "ErrorControl", config.errorControl) == reg::kSuccess &&
                       reg::SetSz(key.get(), "DisplayName", config.displayName) == reg::kSuccess &&
                       reg::SetSz(key.get(), "DependOnService", config.dependencies) == reg::kSuccess &&
                       reg::SetSz(key.get(), "ObjectName", "LocalSystem") == reg::kSuccess &&
                       reg::SetSz(key.get(), "ImagePath", config.imagePath) == reg::kSuccess;
  return written ? kSuccess : kStoreFailed;
}

Status ReadServiceRecord(std::string_view name, ServiceConfig* config) {
  if (!IsValidServiceName(name)) return kInvalidName;
  reg::ScopedKey key;
  const reg::Status opened = reg::OpenKey(reg::LocalMachine(), ServiceKeyPath(name), reg::Access::kRead, key.out());
  if (opened == reg::kFileNotFound) return kServiceDoesNotExist;
  if (opened != reg::kSuccess) return kAccessDenied;
  ServiceConfig read;
  if (reg::QueryValue(key.get(), "ImagePath", nullptr, &read.imagePath) != reg::kSuccess) return kServiceDoesNotExist;
  std::string data;
  read.name = std::string(name);
  if (reg::QueryValue(key.get(), "Type", nullptr, &data) == reg::kSuccess) read.serviceType = DwordOf(data);
  if (reg::QueryValue(key.get(), "Start", nullptr, &data) == reg::kSuccess) read.startType = DwordOf(data);
  if (reg::QueryValue(key.get(), "ErrorControl", nullptr, &data) == reg::kSuccess) read.errorControl = DwordOf(data);
  reg::QueryValue(key.get(), "DisplayName", nullptr, &read.displayName);
  reg::QueryValue(key.get(), "DependOnService", nullptr, &read.dependencies);
  if (config != nullptr) *config = std::move(read);
  return kSuccess;
}

Status WriteStartType(std::string_view name, uint32_t startType) {
  if (!IsValidServiceName(name)) return kInvalidName;
  reg::ScopedKey key;
  const reg::Status opened =
      reg::OpenKey(reg::LocalMachine(), ServiceKeyPath(name), reg::Access::kReadWrite, key.out());
  if (opened == reg::kFileNotFound || (opened == reg::kSuccess && !RecordExists(key.get()))) {
    return kServiceDoesNotExist;
  }
  if (opened != reg::kSuccess) return kAccessDenied;
  return reg::SetDword(key.get(), "Start", startType) == reg::kSuccess ? kSuccess : kStoreFailed;
}

Status DeleteServiceRecord(std::string_view name) {
  if (!IsValidServiceName(name)) return kInvalidName;
  const RecordsLock lock;
  if (!lock.ok()) return kAccessDenied;
  if (const Status found = ReadServiceRecord(name, nullptr); found != kSuccess) return found;
  return reg::DeleteKey(reg::LocalMachine(), ServiceKeyPath(name)) == reg::kSuccess ? kSuccess : kStoreFailed;
}

}  // namespace qv::svc
