#include "platform/paths/data_root.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace qv
