#pragma once
// A fresh data root for one test: QUORVEL_HOME points at a new temporary folder for the life of
// the object, and the folder is removed afterwards. No test touches the real data root.

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qv::testing {

class TempHome {
 public:
  TempHome() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quorvel_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    // Private, as the programs demand of a data root.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
    setenv("QUORVEL_HOME", path_.c_str(), 1);
    // Tests run as root on a machine without the user quorvel; a service they start may run
    // its rules as root there. The test of that refusal clears this for its own service.
    setenv("QUORVEL_RULES_AS_ROOT", "1", 1);
  }
  ~TempHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace qv::testing
