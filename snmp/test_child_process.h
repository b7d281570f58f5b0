#pragma once
// Tests only: runs a peer program (net-snmp's tools) with extra environment variables, its
// standard output and error going to one file. The process is ended by its own process id,
// at the latest when the object is destroyed.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace qv::testing {

class CTestChildProcess {
 public:
  CTestChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extraEnv,
                    std::string outputFile)
      : outputFile_(std::move(outputFile)) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      if (!extraEnv.count(text.substr(0, text.find('=')))) env.push_back(text);
    }
    for (const auto& [name, value] : extraEnv) env.push_back(name + "=" + value);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const auto argvPointers = Pointers(argv);
    const auto envPointers = Pointers(env);
    if (posix_spawnp(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(), envPointers.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CTestChildProcess() { Kill(); }
  CTestChildProcess(const CTestChildProcess&) = delete;
  CTestChildProcess& operator=(const CTestChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  // The exit status once the process has ended within `limit`; nothing while it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exitStatus_;
  }

  // SIGTERM, then SIGKILL when it has not ended within a second.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!WaitForExit(std::chrono::seconds(1))) {
      kill(pid_, SIGKILL);
      WaitForExit(std::chrono::seconds(5));
    }
  }

  std::string Output() const {
    std::ifstream in(outputFile_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Waits up to `limit` for `text` to appear in the output.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Output().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  static std::vector<char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
  }

  std::string outputFile_;
  pid_t pid_ = -1;
  std::optional<int> exitStatus_;
};

// The environment for net-snmp's tools in a test: their state and configuration stay inside the
// test's own `folder`, and no MIB files are read.
inline std::map<std::string, std::string> NetSnmpEnvironment(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder / "persist");
  return {{"SNMP_PERSISTENT_DIR", (folder / "persist").string()},
          {"SNMPCONFPATH", folder.string()},
          {"MIBS", ""},
          {"MIBDIRS", folder.string()}};
}

}  // namespace qv::testing
