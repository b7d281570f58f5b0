#include "platform/paths/data_root.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv {

std::string DataRoot() {
  const char* home = std::getenv("QUORVEL_HOME");
  std::string root = (home != nullptr && *home != '\0') ? home : "/var/lib/quorvel";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

bool EnsureDataRoot() {
  const std::string root = DataRoot();
  // Create each missing level; only the data root itself gets the restrictive mode.
  for (std::size_t slash = root.find('/', 1); slash != std::string::npos;
       slash = root.find('/', slash + 1)) {
    const std::string parent = root.substr(0, slash);
    if (mkdir(parent.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat info {};
  return stat(root.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DataPath(const std::string& name) { return DataRoot() + "/" + name; }

std::string CheckDataRoot() {
  const std::string root = DataRoot();
  if (!EnsureDataRoot()) return root + " cannot be created: " + std::strerror(errno);
  struct stat info {};
  if (lstat(root.c_str(), &info) != 0) return root + " cannot be read: " + std::strerror(errno);
  if (!S_ISDIR(info.st_mode)) return root + " is not a folder";
  const passwd* serviceUser = getpwnam("quorvel");
  if (info.st_uid != geteuid() && info.st_uid != 0 && (serviceUser == nullptr || info.st_uid != serviceUser->pw_uid)) {
    return root + " belongs to user " + std::to_string(info.st_uid) + ", not to this user (" +
           std::to_string(geteuid()) + "), root or the service's user quorvel";
  }
  if ((info.st_mode & S_IRWXO) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return root + " is open to other users (mode " + mode + "); close it with chmod o-rwx";
  }
  // Root's or the service's folder, shared with a group this user is not in (or not shared).
  if (access(root.c_str(), R_OK | W_OK | X_OK) != 0) {
    return root + " cannot be used by this user: " + std::strerror(errno);
  }
  return "";
}

bool IsSharedWithGroup(const std::string& folder) {
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && (info.st_mode & S_ISGID) != 0 && (info.st_mode & S_IRWXG) == S_IRWXG;
}

mode_t OutsideFileMode() { return IsSharedWithGroup(DataRoot()) ? 0660 : 0640; }

bool CreateDataFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

void UseSharedUmask() { umask(007); }

}  // namespace qv
