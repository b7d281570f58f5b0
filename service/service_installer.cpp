#include "service/service_installer.h"

#include <grp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/settings/reg.h"
#include "platform/paths/data_root.h"
#include "platform/services/service_manager.h"
#include "platform/services/service_record.h"

namespace qv {

namespace {

constexpr size_t kMaxProgramPath = 512;
// A service that stays stop pending longer than this is deleted all the same.
constexpr int kMaxStopPendingRounds = 60;

bool OwnProgramPath(std::string* path) {
  char buffer[kMaxProgramPath + 1];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) > kMaxProgramPath) return false;
  path->assign(buffer, static_cast<size_t>(length));
  return true;
}

}  // namespace

bool RunSystemTool(std::vector<std::string> argv) {
  std::vector<char*> words;
  for (std::string& word : argv) words.push_back(word.data());
  words.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, words[0], nullptr, nullptr, words.data(), environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ShareDataRootWithGroup() {
  const group* existing = getgrnam(kServiceGroup);
  if (existing == nullptr && RunSystemTool({"groupadd", "--system", kServiceGroup})) existing = getgrnam(kServiceGroup);
  return existing != nullptr && ShareDataRootWithGroup(existing->gr_gid);
}

bool ShareDataRootWithGroup(gid_t gid) {
  const std::filesystem::path root = DataRoot();
  if (chown(root.c_str(), 0, gid) != 0 || chmod(root.c_str(), 02770) != 0) return false;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    struct stat info {};
    if (lstat(it->path().c_str(), &info) != 0 || S_ISLNK(info.st_mode)) continue;
    if (lchown(it->path().c_str(), 0, gid) != 0) continue;
    const mode_t mode = S_ISDIR(info.st_mode) ? 02770 : ((info.st_mode & 07777) | 0660) & ~static_cast<mode_t>(07007);
    chmod(it->path().c_str(), mode);
  }
  return true;
}

bool AddService(const std::string& displayName, const std::string& description) {
  svc::ServiceConfig config;
  if (!OwnProgramPath(&config.imagePath)) return false;
  svc::ServiceManager manager;
  if (manager.Open() != svc::kSuccess) return false;
  config.name = kServiceName;
  config.displayName = displayName;
  config.serviceType = svc::kOwnProcess | svc::kInteractiveProcess;
  config.startType = svc::kAutoStart;
  config.errorControl = svc::kErrorNormal;
  config.dependencies = "Tcpip";
  svc::ServiceHandle service;
  if (manager.CreateService(config, &service) != svc::kSuccess) return false;
  CReg(svc::ServiceKeyPath(kServiceName)).SetString("Description", description);
  return true;
}

bool RemoveService() {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  if (manager.Open() != svc::kSuccess || manager.OpenService(kServiceName, &service) != svc::kSuccess) return false;
  svc::ServiceStatus status;
  if (service.Control(svc::kControlStop, &status) == svc::kSuccess) {
    for (int round = 0; round < kMaxStopPendingRounds && status.currentState == svc::kStopPending; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      if (service.QueryStatus(&status) != svc::kSuccess) break;
    }
  }
  return service.Delete() == svc::kSuccess;
}

}  // namespace qv
