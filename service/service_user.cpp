#include "service/service_user.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/paths/data_root.h"
#include "service/service_installer.h"

namespace qv {

namespace {

constexpr uint64_t kKeptCapabilities = (1ULL << CAP_NET_BIND_SERVICE) | (1ULL << CAP_NET_RAW);

// Sets this thread's permitted and effective sets to `kept` and its inheritable set to nothing.
bool SetCapabilities(uint64_t kept) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  for (int word = 0; word < _LINUX_CAPABILITY_U32S_3; ++word) {
    const auto bits = static_cast<uint32_t>(kept >> (32 * word));
    data[word].permitted = bits;
    data[word].effective = bits;
    data[word].inheritable = 0;
  }
  return syscall(SYS_capset, &header, data) == 0;
}

int ThreadCount() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

std::string Failed(const char* step) {
  return std::string("cannot become the user ") + kServiceUser + " (" + step + ": " + std::strerror(errno) +
         "); not running rules as root";
}

bool OverrideSet() {
  const char* value = std::getenv(kRulesAsRootVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

bool MakeServiceUser(const char* group) {
  if (getpwnam(kServiceUser) != nullptr) return true;
  RunSystemTool({"useradd", "--system", "--gid", group, "--no-create-home", "--home-dir", "/nonexistent", "--shell",
                 "/usr/sbin/nologin", kServiceUser});
  return getpwnam(kServiceUser) != nullptr;
}

std::string DropToServiceUser() {
  if (geteuid() != 0) return "";
  const passwd* user = getpwnam(kServiceUser);
  if (user == nullptr) {
    if (OverrideSet()) {
      std::fprintf(stderr, "dunmir: warning: running rules as root, because %s=1 is set and there is no user %s\n",
                   kRulesAsRootVariable, kServiceUser);
      return "";
    }
    return std::string("started as root, but there is no user ") + kServiceUser +
           " to run the rules as; run 'dunmir add' as root, which makes it, or make it with 'useradd --system " +
           kServiceUser + "' (or set " + kRulesAsRootVariable + "=1 to run rules as root)";
  }
  if (ThreadCount() != 1) return Failed("the process already runs threads");
  const uid_t uid = user->pw_uid;
  const gid_t gid = user->pw_gid;
  if (uid == 0) return std::string("the user ") + kServiceUser + " is root; not running rules as root";
  const std::string home = user->pw_dir != nullptr ? user->pw_dir : "/";

  struct stat root {};
  if (stat(DataRoot().c_str(), &root) == 0 && root.st_uid != uid &&
      !(root.st_gid == gid && IsSharedWithGroup(DataRoot())) && !ShareDataRootWithGroup(gid)) {
    return "cannot share " + DataRoot() + " with the group of the user " + kServiceUser + ": " + std::strerror(errno);
  }

  // Keep the permitted set across the change of user, then narrow it to the two kept ones.
  if (prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) return Failed("keep capabilities");
  if (setgroups(1, &gid) != 0) return Failed("setgroups");
  if (setresgid(gid, gid, gid) != 0) return Failed("setresgid");
  if (setresuid(uid, uid, uid) != 0) return Failed("setresuid");
  if (!SetCapabilities(kKeptCapabilities)) return Failed("capset");
  if (prctl(PR_SET_KEEPCAPS, 0, 0, 0, 0) != 0) return Failed("keep capabilities");
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0) return Failed("clear ambient capabilities");
  // The way back must be closed.
  if (setuid(0) == 0 || geteuid() == 0) return Failed("root could be regained");
  setenv("HOME", home.c_str(), 1);
  setenv("USER", kServiceUser, 1);
  setenv("LOGNAME", kServiceUser, 1);
  return "";
}

}  // namespace qv
