#include "platform/files/owned_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/paths/data_root.h"

namespace qv {
namespace {

OwnedFile Refuse(int error, std::string reason) {
  OwnedFile refused;
  refused.error = error;
  refused.refusal = std::move(reason);
  return refused;
}

// The user that owns what the service writes in a shared data root, or -1 when there is none.
uid_t ServiceUser() {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r("quorvel", &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return static_cast<uid_t>(-1);
  }
  return found->pw_uid;
}

// Root's files were not planted by another user: a service that dropped from root to its user
// meets the files it wrote as root before.
bool TrustedOwner(uid_t owner) {
  if (owner == geteuid() || owner == 0) return true;
  return IsSharedWithGroup(DataRoot()) && owner == ServiceUser();
}

std::string Kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "is a FIFO";
  if (S_ISDIR(mode)) return "is a folder";
  if (S_ISSOCK(mode)) return "is a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
  return "is not a regular file";
}

// Why a file that opened may not be used, or "" when it may.
std::string Unfit(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return Kind(info.st_mode);
  if (info.st_nlink != 1) return "has " + std::to_string(info.st_nlink) + " links";
  if (!TrustedOwner(info.st_uid)) return "belongs to user " + std::to_string(info.st_uid);
  return "";
}

// Why `path` could not be opened, naming what lies there when that is the reason.
OwnedFile Unopened(const std::string& path, int error) {
  struct stat info {};
  if (error == ELOOP) return Refuse(error, "is a symbolic link");
  // A FIFO without a reader answers a non-blocking open for writing with ENXIO.
  if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return Refuse(error, Kind(info.st_mode));
  return Refuse(error, std::strerror(error));
}

}  // namespace

OwnedFile OpenOwnedFile(const std::string& path, OwnedFileAccess access) {
  const bool append = access == OwnedFileAccess::kAppend;
  const int flags = (append ? O_WRONLY | O_APPEND : O_RDONLY) | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  int fd = open(path.c_str(), flags);
  // Absent: made here, exclusively; one that appeared meanwhile is opened as found.
  if (fd < 0 && errno == ENOENT && append) {
    fd = open(path.c_str(), flags | O_CREAT | O_EXCL, OutsideFileMode());
    if (fd < 0 && errno == EEXIST) fd = open(path.c_str(), flags);
  }
  if (fd < 0) return Unopened(path, errno);
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    return Refuse(error, std::strerror(error));
  }
  if (std::string why = Unfit(info); !why.empty()) {
    close(fd);
    return Refuse(EPERM, std::move(why));
  }
  OwnedFile opened;
  opened.fd = fd;
  return opened;
}

}  // namespace qv
